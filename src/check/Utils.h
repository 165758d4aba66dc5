#pragma once

#include <cstdint>
#include <string>

// Small stateless helpers of the windows and the check cycle. Positions in
// text are 1-based; 0 means not found. Texts are 8-bit; comparisons are byte
// for byte.

// Starts the command line (no shell) in the folder of its program and waits
// for it to end, at most waitTime ms (-1: no limit, 0: no wait). The program
// is the first argument of the command line, looked up in PATH when it has no
// slash. showMode is the desktop's window show code; programs here choose
// their own windows, so it is not used. True when the program started.
bool StartProcess(const std::string& commandLine, int16_t showMode, int waitTime);

// The folder StartProcess runs a command line in: the program path cut from
// the command line (up to the first blank; a quoted path up to the quote
// before the first blank), made absolute, its folder with the trailing '/'.
// Empty when nothing could be cut.
std::string StartFolderOf(const std::string& commandLine);

// Both values are computed by the caller; this only chooses.
template <typename T>
T IIf(bool condition, const T& ifTrue, const T& ifFalse)
{
    return condition ? ifTrue : ifFalse;
}

inline std::string IIf(bool condition, const char* ifTrue, const char* ifFalse)
{
    return condition ? ifTrue : ifFalse;
}

// First occurrence of pattern at or after start; 0 if none. An empty pattern
// is never found.
int PosFrom(const std::string& text, const std::string& pattern, int start);

// The text between the first startMarker at or after start and the next
// endMarker; see the cases in the implementation.
std::string TextBetween(const std::string& text, const std::string& startMarker,
                        const std::string& endMarker, int start);

// Divides value by 1024 while it is above 1024; returns how often it did.
int ScaleBy1024(double& value);

// "1.5 KB", "0  B": at most two decimals, the user locale's decimal separator.
std::string HumanSize(int32_t bytes);
std::string HumanSize(int32_t bytes, const std::string& decimalSeparator);

// Replaces at most count occurrences of pattern at or after start; the
// search goes on behind each inserted value.
std::string ReplaceCount(const std::string& text, const std::string& pattern, const std::string& value,
                         int count, int start);
