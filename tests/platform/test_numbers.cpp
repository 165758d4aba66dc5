#include "platform/Exception.h"
#include "platform/Numbers.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace
{

void ExpectRejected(const std::function<void(const std::string&)>& parse, const std::string& bad)
{
    try
    {
        parse(bad);
        ADD_FAILURE() << "accepted: [" << bad << "]";
    }
    catch (const EConvertError& e)
    {
        EXPECT_EQ(e.Message, "'" + bad + "' is not a valid integer value");
    }
}

TEST(DecimalOrHexToInt, AcceptsIntegersAndRejectsTheRest)
{
    const std::pair<std::string, int32_t> good[] = {
        {"0", 0},     {"150", 150},        {"-1", -1},           {"+7", 7},
        {"  12", 12}, {"$1F", 31},         {"0x10", 16},         {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},        {"$FFFFFFFF", -1},
    };
    for (const auto& [text, value] : good)
        EXPECT_EQ(DecimalOrHexToInt(text), value) << text;
    for (const std::string bad : {"", "x", "12 ", "1.5", "2147483648", "-", "$", "0x", "1e3", "12a"})
        ExpectRejected([](const std::string& t) { DecimalOrHexToInt(t); }, bad);
}

// What a server sends is decimal only: a hexadecimal or padded count is not
// a count.
TEST(DecimalToInt, AcceptsSignedDecimalOnly)
{
    const std::pair<std::string, int> good[] = {
        {"0", 0}, {"42", 42}, {"-3", -3}, {"+8", 8}, {"2147483647", INT_MAX}, {"-2147483648", INT_MIN},
    };
    for (const auto& [text, value] : good)
        EXPECT_EQ(DecimalToInt(text), value) << text;
    for (const std::string bad : {"", "+", " 1", "1 ", "$1F", "0x10", "2147483648", "1.0"})
    {
        int value = 7;
        EXPECT_FALSE(TryDecimalToInt(bad, value)) << bad;
        EXPECT_EQ(value, 7) << "changed on failure: " << bad;
        ExpectRejected([](const std::string& t) { DecimalToInt(t); }, bad);
    }
}

} // namespace
