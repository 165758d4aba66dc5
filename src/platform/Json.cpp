#include "platform/Json.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace
{

// The deepest nesting of arrays and objects, counted outside strings; stops
// counting once past `limit`.
int Depth(std::string_view text, int limit)
{
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text)
    {
        if (inString)
        {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"')
            inString = true;
        else if (c == '[' || c == '{')
        {
            if (++depth > deepest && (deepest = depth) > limit)
                return deepest;
        }
        else if ((c == ']' || c == '}') && depth > 0)
            --depth;
    }
    return deepest;
}

bool Refuse(std::string* problem, std::string why)
{
    if (problem)
        *problem = std::move(why);
    return false;
}

} // namespace

bool ReadJsonObject(std::string_view text, std::size_t maxBytes, QJsonObject& object, std::string* problem)
{
    if (text.size() > maxBytes)
        return Refuse(problem, "the document is larger than " + std::to_string(maxBytes) + " bytes");
    if (Depth(text, MaxJsonDepth) > MaxJsonDepth)
        return Refuse(problem, "the document is nested deeper than " + std::to_string(MaxJsonDepth) + " levels");
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size())), &error);
    if (error.error != QJsonParseError::NoError)
        return Refuse(problem, "malformed JSON at offset " + std::to_string(error.offset) + ": " +
                                   error.errorString().toStdString());
    if (!document.isObject())
        return Refuse(problem, "the document is not a JSON object");
    object = document.object();
    return true;
}

std::string JsonText(const QJsonObject& object, const char* name)
{
    const QJsonValue value = object.value(QLatin1String(name));
    return value.isString() ? value.toString().toStdString() : std::string();
}
