// Address lists: any text gives some split or "@ Outside address".
#include "mail/IdEMailAddress.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    TIdEMailAddressList list;
    try
    {
        list.ParseAddressList(text);
    }
    catch (const EIdEmailParseError&)
    {
    }
    for (const TIdEMailAddressItem& item : list.Items)
    {
        // Parsing only ever keeps parts of the input.
        if (item.Name.size() > size || item.Address.size() > size)
            std::abort();
        if (!item.Address.empty() && item.Text().empty())
            std::abort();
        (void)item.User();
        (void)item.Domain();
    }

    TIdEMailAddressItem single;
    try
    {
        single.SetText(text);
    }
    catch (const EIdEmailParseError&)
    {
        if (!single.Name.empty() || !single.Address.empty())
            std::abort(); // a failed parse leaves the item empty
    }
    (void)single.Text();
    return 0;
}
