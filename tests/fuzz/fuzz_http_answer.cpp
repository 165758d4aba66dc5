#include "mail/HttpAnswer.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

// An https answer as any server may send it: the reader keeps to its bound
// and frames the same answer whether it comes whole or in two pieces.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    constexpr std::size_t MaxBody = 1024;
    const std::string_view wire(reinterpret_cast<const char*>(data), size);
    THttpAnswerReader whole(MaxBody);
    whole.Feed(wire);
    whole.End();
    THttpAnswerReader split(MaxBody);
    split.Feed(wire.substr(0, size / 2));
    split.Feed(wire.substr(size / 2));
    split.End();
    if (whole.Body().size() > MaxBody || whole.State() == THttpAnswerReader::TState::Reading)
        __builtin_trap();
    if (whole.State() != split.State() || whole.Status() != split.Status() || whole.Body() != split.Body())
        __builtin_trap();
    return 0;
}
