#pragma once

#include <cstdint>
#include <string>

// Integer text in the two forms the program reads. A text that is not a
// number of the form raises EConvertError "'<text>' is not a valid integer
// value"; the Try form answers false instead.

// An optional sign and decimal digits, nothing else, within int. What a mail
// server sends (counts, sizes, numbers).
bool TryDecimalToInt(const std::string& text, int& value);
int DecimalToInt(const std::string& text);
// The same within 64 bits (octet counts of literals and sizes).
int64_t DecimalToInt64(const std::string& text);

// Leading spaces, an optional sign, then decimal digits or "$"/"0x" and
// hexadecimal digits; hexadecimal text may spell any 32-bit pattern. What a
// person may write in a setting (port, interval, column width).
int32_t DecimalOrHexToInt(const std::string& text);
