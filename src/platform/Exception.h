#pragma once

#include <exception>
#include <string>

// Base of every failure the program raises. The message is 8-bit text in the
// desktop code page; the error box converts it for display.
class Exception : public std::exception
{
public:
    explicit Exception(std::string message = {}) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }

    std::string Message;
};

// A text that should hold a number (a port, a width, a count) does not.
class EConvertError : public Exception
{
public:
    using Exception::Exception;
};
