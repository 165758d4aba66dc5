#pragma once

#include <QJsonObject>

#include <cstddef>
#include <string>
#include <string_view>

// JSON from a peer, read with Qt's parser inside bounds of our own: a
// document past `maxBytes` or nested deeper than MaxJsonDepth is refused
// before it is parsed, so a hostile answer costs at most its size.
constexpr int MaxJsonDepth = 64;

// Reads `text` as one JSON object. False, with why in `problem` (English,
// for logs and tests), when it is too large, too deep, malformed or not an
// object.
bool ReadJsonObject(std::string_view text, std::size_t maxBytes, QJsonObject& object, std::string* problem = nullptr);

// The member as plain text; empty when it is absent or not a string.
std::string JsonText(const QJsonObject& object, const char* name);
