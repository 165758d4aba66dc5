#include "mail/HttpUrl.h"

#include <cctype>

namespace
{

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool ReadPort(const std::string& port, int& value)
{
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoi(port);
    return value >= 1 && value <= 65535;
}

} // namespace

bool IsLoopbackHost(const std::string& host)
{
    return host == "127.0.0.1" || host == "::1" || host == "localhost";
}

bool ReadHttpUrl(const std::string& url, THttpUrl& parsed)
{
    parsed = THttpUrl{};
    std::size_t p = 0;
    if (url.compare(0, 8, "https://") == 0)
        p = 8;
    else if (url.compare(0, 7, "http://") == 0)
    {
        parsed.Tls = false;
        parsed.Port = 80;
        p = 7;
    }
    else
        return false;
    const std::size_t end = url.find_first_of("/?#", p);
    const std::string authority = url.substr(p, end == std::string::npos ? std::string::npos : end - p);
    if (authority.empty() || authority.find('@') != std::string::npos || url.find('#') != std::string::npos)
        return false;
    for (const char c : url)
        if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7f)
            return false;
    std::string port;
    bool hasPort = false;
    if (authority[0] == '[')
    {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos)
            return false;
        parsed.Host = Lower(authority.substr(1, close - 1));
        if (close + 1 < authority.size())
        {
            if (authority[close + 1] != ':')
                return false;
            port = authority.substr(close + 2);
            hasPort = true;
        }
    }
    else
    {
        const std::size_t colon = authority.find(':');
        parsed.Host = Lower(authority.substr(0, colon));
        if (colon != std::string::npos)
        {
            port = authority.substr(colon + 1);
            hasPort = true;
        }
    }
    // An empty port is the scheme's own (RFC 3986 3.2.3).
    if (parsed.Host.empty() || (hasPort && !port.empty() && !ReadPort(port, parsed.Port)))
        return false;
    if (end != std::string::npos)
        parsed.Target = url.substr(end);
    if (parsed.Target[0] == '?')
        parsed.Target = "/" + parsed.Target;
    return parsed.Tls || IsLoopbackHost(parsed.Host);
}

std::string HostHeaderOf(const THttpUrl& url)
{
    return (url.Host.find(':') != std::string::npos ? "[" + url.Host + "]" : url.Host) +
           ((url.Tls && url.Port == 443) || (!url.Tls && url.Port == 80) ? "" : ":" + std::to_string(url.Port));
}

std::string OriginOf(const THttpUrl& url)
{
    return (url.Tls ? "https://" : "http://") + HostHeaderOf(url);
}
