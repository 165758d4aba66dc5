#pragma once

#include "platform/Exception.h"

#include <ctime>
#include <string>

// The small decisions of a check cycle, apart from any socket or window.

// A new message counts for notification when the required priority (the item
// index of the priority list, -1 when nothing is chosen), taken as one
// unsigned byte, is at or above the message's priority byte (0 highest,
// 4 lowest; a header may give values outside that range).
bool PriorityCounts(int requiredIndex, int priority);

// Notify only for new messages, or whenever something is listed.
bool ShouldNotify(bool onlyNewMessages, int newCount, int listedCount);

// "There are no messages", "There is a message to read" or
// "There are %d messages to read", translated. Where more wait than are
// listed (the newest of a large mailbox), it says both.
std::string Headline(int listedCount, int waitingCount = 0);

// The main tray icon's hint after a check: the headline and
// "(last check: %s)" with the time text, cut to what the tray keeps.
std::string TrayHint(const std::string& headline, const std::string& timeText);
constexpr std::size_t TrayHintLimit = 127;

// A time in the user locale's long time format (LC_TIME), in the desktop
// code page.
std::string LongTimeText(const std::tm& time);
std::string LongTimeTextNow();

// A port text no connection can be made to; the message says why.
class EBadPort : public Exception
{
public:
    using Exception::Exception;
};

// A port number that no TCP port can have.
class EPortOutOfRange : public EBadPort
{
public:
    using EBadPort::EBadPort;
};

// An account's port text as a number, read like every integer of the
// configuration. EBadPort, naming the text, when it is empty or not a
// number; EPortOutOfRange when the number is not a TCP port (the socket
// layer would cut 70000 down to 4464 and never connect a negative one).
int PortOfText(const std::string& text);

// Replaces the first "%d" or "%s" of a translated format; the format itself
// comes from a catalog, so it never reaches printf.
std::string FormatOne(std::string format, const std::string& marker, const std::string& value);
