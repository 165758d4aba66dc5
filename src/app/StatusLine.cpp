#include "app/StatusLine.h"

#include "platform/CodePage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace
{

// A JSON string of desktop text: quotes, backslashes and every control
// character escaped, the rest as UTF-8.
std::string Quoted(const std::string& desktopText)
{
    const QByteArray utf8 = FromCodePage(desktopText).toUtf8();
    std::string out = "\"";
    for (const char c : utf8)
    {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            out += {'\\', c};
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (byte < 0x20 || byte == 0x7f)
        {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        }
        else
            out += c;
    }
    return out + "\"";
}

const char* Bool(bool value)
{
    return value ? "true" : "false";
}

} // namespace

std::string StatusClass(const TStatus& status)
{
    if (status.Paused)
        return "paused";
    if (status.Mail.Failed)
        return "error";
    if (status.Quiet)
        return "quiet";
    return status.Mail.Count > 0 ? "new" : "none";
}

std::string StatusJson(const TStatus& status)
{
    const std::string kind = StatusClass(status);
    const std::string count = std::to_string(status.Mail.Count);
    std::string json = "{\"text\": \"" + count + "\", \"alt\": \"" + kind + "\", \"class\": \"" + kind +
                       "\", \"tooltip\": " + Quoted(status.Mail.Hint) + ", \"count\": " + count +
                       ", \"accounts\": [";
    for (std::size_t i = 0; i < status.Mail.Accounts.size(); ++i)
    {
        const TAccountState& a = status.Mail.Accounts[i];
        json += (i > 0 ? ", " : "") + std::string("{\"name\": ") + Quoted(a.Name) +
                ", \"count\": " + std::to_string(a.Count) + ", \"error\": " + Quoted(a.Error) + "}";
    }
    json += std::string("], \"quiet\": ") + Bool(status.Quiet) + ", \"checked\": " +
            (status.Checked.empty() ? "null" : "\"" + status.Checked + "\"") + "}";
    return json;
}

std::optional<std::string> FormatStatus(const std::string& format, const std::string& jsonLine)
{
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(jsonLine));
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject status = document.object();
    QStringList accounts;
    for (const QJsonValue& value : status.value(QStringLiteral("accounts")).toArray())
    {
        const QJsonObject a = value.toObject();
        const QString name = a.value(QStringLiteral("name")).toString();
        if (!a.value(QStringLiteral("error")).toString().isEmpty())
            accounts << name + QStringLiteral(": !");
        else if (const int count = a.value(QStringLiteral("count")).toInt(); count > 0)
            accounts << name + QStringLiteral(": ") + QString::number(count);
    }
    QString text = QString::fromUtf8(format);
    // One pass, so a name holding "{count}" stays as it is.
    QString out;
    for (qsizetype i = 0; i < text.size();)
    {
        const auto take = [&](const QString& field, const QString& value) {
            if (!QStringView(text).mid(i).startsWith(field))
                return false;
            out += value;
            i += field.size();
            return true;
        };
        if (take(QStringLiteral("{count}"), QString::number(status.value(QStringLiteral("count")).toInt())) ||
            take(QStringLiteral("{class}"), status.value(QStringLiteral("class")).toString()) ||
            take(QStringLiteral("{accounts}"), accounts.join(QStringLiteral(", "))))
            continue;
        out += text[i++];
    }
    return out.toStdString();
}
