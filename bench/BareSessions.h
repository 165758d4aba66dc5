#pragma once

// The bare socket clients the check benchmarks measure ours against: the
// same commands, each reply read only up to its end, nothing parsed. What
// they take is the server's and the loopback's share of a check.

#include "CheckTiming.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

// IMAP4: each command written, its reply read up to the tagged line,
// literals skipped by their count.
class TBareImap4 : public TBareSocket
{
public:
    using TBareSocket::TBareSocket;

    // The untagged lines of the reply.
    std::vector<std::string> Command(const std::string& command)
    {
        const std::string tag = "C" + std::to_string(++FCounter);
        SendLine(tag + " " + command);
        std::vector<std::string> lines;
        for (;;)
        {
            std::string line = ReadLine();
            if (line.rfind(tag + " ", 0) == 0)
                return lines;
            if (!line.empty() && line.back() == '}')
                Skip(std::stoul(line.substr(line.rfind('{') + 1)));
            lines.push_back(line);
        }
    }

private:
    int FCounter = 0;
};

// "first:last" for a run of consecutive UIDs, else the list.
inline std::string BareUidSet(const std::vector<unsigned long>& uids)
{
    if (uids.back() - uids.front() + 1 == uids.size())
        return std::to_string(uids.front()) + ":" + std::to_string(uids.back());
    std::string text;
    for (unsigned long uid : uids)
        text += (text.empty() ? "" : ",") + std::to_string(uid);
    return text;
}

// Our first check's commands: LOGIN (whose answer names the capabilities),
// SELECT, UID SEARCH UNSEEN, then "UID FETCH <set> `items`" for every 250
// hits, LOGOUT.
inline int BareImap4Check(std::uint16_t port, const std::string& items = "(RFC822.SIZE BODY.PEEK[HEADER])")
{
    TBareImap4 s(port);
    s.Command(std::string("LOGIN ") + User + " " + Password);
    s.Command("SELECT \"INBOX\"");
    std::vector<unsigned long> uids;
    for (const std::string& line : s.Command("UID SEARCH UNSEEN"))
        if (line.rfind("* SEARCH", 0) == 0)
        {
            std::size_t pos = 8;
            while (pos < line.size())
            {
                std::size_t next = line.find(' ', pos + 1);
                uids.push_back(std::stoul(line.substr(pos + 1, next == std::string::npos ? std::string::npos : next - pos - 1)));
                pos = next == std::string::npos ? line.size() : next;
            }
        }
    std::sort(uids.begin(), uids.end());
    for (std::size_t at = 0; at < uids.size(); at += 250)
    {
        const std::vector<unsigned long> part(uids.begin() + static_cast<std::ptrdiff_t>(at),
                                              uids.begin() + static_cast<std::ptrdiff_t>(std::min(at + 250, uids.size())));
        s.Command("UID FETCH " + BareUidSet(part) + " " + items);
    }
    s.Command("LOGOUT");
    return static_cast<int>(uids.size());
}

// POP3: each command written and its reply read up to its end marker.
class TBarePop3 : public TBareSocket
{
public:
    using TBareSocket::TBareSocket;

    std::string Command(const std::string& line, bool multiLine)
    {
        SendLine(line);
        return Reply(multiLine);
    }

    std::string Reply(bool multiLine)
    {
        std::string status = ReadLine();
        if (multiLine && status.rfind("+OK", 0) == 0)
            SkipBody();
        return status;
    }

private:
    // Up to and including the line that is a lone ".".
    void SkipBody()
    {
        for (;;)
        {
            if (Buffer.rfind(".\r\n", 0) == 0)
            {
                Buffer.erase(0, 3);
                return;
            }
            std::size_t at = Buffer.find("\r\n.\r\n");
            if (at != std::string::npos)
            {
                Buffer.erase(0, at + 5);
                return;
            }
            Receive();
        }
    }
};

// Our check's commands: CAPA, USER/PASS, STAT, UIDL, then "TOP n `lines`"
// and LIST n per message (in one write when `pipelined`), QUIT.
inline int BarePop3Check(std::uint16_t port, bool pipelined, int lines = 0)
{
    TBarePop3 s(port);
    s.Command("CAPA", true);
    s.Command(std::string("USER ") + User, false);
    s.Command(std::string("PASS ") + Password, false);
    std::string stat = s.Command("STAT", false);
    int count = std::stoi(stat.substr(4));
    s.Command("UIDL", true);
    const std::string top = " " + std::to_string(lines);
    for (int n = 1; n <= count; ++n)
    {
        const std::string number = std::to_string(n);
        if (pipelined)
        {
            s.SendLine("TOP " + number + top + "\r\nLIST " + number);
            s.Reply(true);
            s.Reply(false);
            continue;
        }
        s.Command("TOP " + number + top, true);
        s.Command("LIST " + number, false);
    }
    s.Command("QUIT", false);
    return count;
}
