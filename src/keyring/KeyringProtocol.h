#pragma once

#include <cstddef>
#include <string>
#include <vector>

// What the program and its keyring helper say to each other. The helper
// (ternbell-keyring, beside the executable) holds the Secret Service client:
// libsecret with GLib's GIO and GObject cost about 4 MB of resident memory
// once used, more than the whole program may grow at rest, so they live in
// a process of their own that the program starts when it has requests and
// that ends when its input closes after the last answer.
//
// Each message is a list of fields, each a netstring ("5:hello,"), ended by
// a newline: requests on the helper's input, answers on its output, each
// answer carrying the number of its request. Texts are UTF-8.
//
//   request: <id> <operation> <protocol> <host> <port> <user> <label> <secret> [<kind>]
//   (kind: absent for a password, else what kind of token the secret is)
//   answer:  <id> <outcome> <secret> <message>

constexpr const char* KeyringHelperName = "ternbell-keyring";

enum TSecretOperation : int
{
    soRead = 0,
    soWrite = 1,
    soDelete = 2,
    // Whether a Secret Service answers on the bus; nothing is read or kept.
    soProbe = 3,
};

// How a request ended.
enum TSecretOutcome : int
{
    soDone = 0,        // read (the secret given), kept, deleted, or a service answered
    soMissing = 1,     // nothing is kept under the key
    soUnavailable = 2, // no bus, no Secret Service, or no collection it would create
    soRefused = 3,     // the keyring stayed locked
    soFailed = 4,      // any other error; the message says what
};

// A message needs no more than this: a few short texts and a password.
constexpr std::size_t MaxKeyringMessage = 1 << 20;

inline std::string KeyringMessage(const std::vector<std::string>& fields)
{
    std::string message;
    for (const std::string& field : fields)
        message += std::to_string(field.size()) + ":" + field + ",";
    return message + "\n";
}

// Takes the first whole message off `buffer` into `fields`: true when there
// was one. A malformed one empties the buffer and sets `broken`.
inline bool TakeKeyringMessage(std::string& buffer, std::vector<std::string>& fields, bool& broken)
{
    fields.clear();
    std::size_t p = 0;
    while (true)
    {
        if (p >= buffer.size())
            return false;
        if (buffer[p] == '\n')
        {
            buffer.erase(0, p + 1);
            return true;
        }
        std::size_t length = 0;
        std::size_t q = p;
        while (q < buffer.size() && buffer[q] >= '0' && buffer[q] <= '9' && length <= MaxKeyringMessage)
            length = length * 10 + static_cast<std::size_t>(buffer[q++] - '0');
        if (q == buffer.size() && length <= MaxKeyringMessage)
            return false; // the length is still coming
        if (q == p || buffer[q] != ':' || length > MaxKeyringMessage)
        {
            buffer.clear();
            broken = true;
            return false;
        }
        if (buffer.size() < q + 1 + length + 1)
            return false;
        if (buffer[q + 1 + length] != ',')
        {
            buffer.clear();
            broken = true;
            return false;
        }
        fields.push_back(buffer.substr(q + 1, length));
        p = q + 1 + length + 1;
    }
}
