#pragma once

#include <string>
#include <utility>

// What a message row shows of its message, as the last check wrote it.
struct TRowMessage
{
    TRowMessage() = default;
    TRowMessage(std::string from, std::string subject, std::string size, std::string id = {})
        : From(std::move(from)), Subject(std::move(subject)), Size(std::move(size)), Id(std::move(id))
    {
    }

    std::string From;
    std::string Subject;
    std::string Size; // as HumanSize gave it
    // The message's identity on its server as the check found it ("" when
    // unknown): "u:" and a POP3 unique id, "i:" UIDVALIDITY ":" UID, or "f:"
    // and a fingerprint.
    std::string Id;
    // The start of the message's text, "" when none was read.
    std::string Preview;
    // Its Message-ID without the angle brackets, "" when it has none.
    std::string MessageId{};
};
