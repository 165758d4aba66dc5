#include "check/ExpandCommand.h"

#include "check/MessageList.h"
#include "check/NewMailNews.h"

#include <algorithm>

TRowValues RowValues(const TMessageList& rows, const std::vector<TRowPlace>& accounts, int index, bool preview)
{
    TRowValues values;
    values.MessageNumber = MessageNumberOfRow(rows, index);
    values.AccountNumber = AccountNumberOfRow(rows, accounts, index);
    values.From = rows.SubItem(index, 0);
    values.Subject = rows.SubItem(index, 1);
    values.Size = rows.SubItem(index, 2);
    values.Folder = rows.Row(index).Mailbox;
    if (preview)
        values.Preview = rows.Row(index).Preview.Text();
    values.MessageId = rows.Row(index).MessageId;
    return values;
}

TRowValues RowValuesOfTold(const TToldMessage& told)
{
    TRowValues values;
    values.MessageNumber = told.Number;
    values.AccountNumber = told.Account + 1;
    values.From = told.Shown.From;
    values.Subject = told.Shown.Subject;
    values.Size = told.Shown.Size;
    values.Folder = told.Mailbox;
    values.Preview = told.Shown.Preview;
    values.MessageId = told.Shown.MessageId;
    return values;
}

namespace
{

// Every occurrence from left to right; the search resumes behind each
// inserted value, so a value is never searched by its own step.
void ReplaceAll(TExpandedCommand& command, const std::string& pattern, const std::string& value,
                bool quoted, std::size_t& budget)
{
    std::size_t p = 0;
    while ((p = command.Text.find(pattern, p)) != std::string::npos)
    {
        // Written in the command line itself, or brought in by a value?
        bool structural = true;
        for (std::size_t k = p; k < p + pattern.size(); ++k)
            structural = structural && command.Structural[k];

        const std::string cut = value.substr(0, std::min(MaxInsertedValue, budget));
        budget -= cut.size();
        std::string inserted = quoted ? "\"" + cut + "\"" : cut;
        std::vector<bool> flags(inserted.size(), false);
        if (quoted)
            flags.front() = flags.back() = structural;

        command.Text.replace(p, pattern.size(), inserted);
        command.Structural.erase(command.Structural.begin() + static_cast<std::ptrdiff_t>(p),
                                 command.Structural.begin() +
                                     static_cast<std::ptrdiff_t>(p + pattern.size()));
        command.Structural.insert(command.Structural.begin() + static_cast<std::ptrdiff_t>(p),
                                  flags.begin(), flags.end());
        p += inserted.size();
    }
}

} // namespace

bool UsesPreview(const std::string& command)
{
    return command.find("%PREVIEW%") != std::string::npos;
}

TExpandedCommand ExpandCommandParts(const std::string& command, const TRowValues& values)
{
    TExpandedCommand result{command, std::vector<bool>(command.size(), true)};
    std::size_t budget = MaxInsertedTotal;
    ReplaceAll(result, "%MSGID%", std::to_string(values.MessageNumber), false, budget);
    ReplaceAll(result, "%MESSAGEID%", values.MessageId, true, budget);
    ReplaceAll(result, "%ACCOUNT%", "Account" + std::to_string(values.AccountNumber), true, budget);
    ReplaceAll(result, "%FOLDER%", values.Folder, true, budget);
    ReplaceAll(result, "%FROM%", values.From, true, budget);
    ReplaceAll(result, "%SUBJECT%", values.Subject, true, budget);
    ReplaceAll(result, "%SIZE%", values.Size, true, budget);
    ReplaceAll(result, "%PREVIEW%", values.Preview, true, budget);
    return result;
}

std::string ExpandCommand(const std::string& command, const TRowValues& values)
{
    return ExpandCommandParts(command, values).Text;
}

std::string ExpandCommand(const std::string& command, const TMessageList& rows,
                          const std::vector<TRowPlace>& accounts, int index)
{
    return ExpandCommand(command, RowValues(rows, accounts, index));
}

std::vector<std::string> TExpandedCommand::Arguments() const
{
    std::vector<std::string> arguments;
    std::string current;
    bool started = false; // a quoted empty text is an argument too
    bool quoted = false;
    for (std::size_t i = 0; i < Text.size(); ++i)
    {
        const char c = Text[i];
        const bool structural = Structural[i];
        if (structural && c == '"')
        {
            quoted = !quoted;
            started = true;
        }
        else if (structural && !quoted && (c == ' ' || c == '\t'))
        {
            if (started)
                arguments.push_back(current);
            current.clear();
            started = false;
        }
        else
        {
            current += c;
            started = true;
        }
    }
    if (started)
        arguments.push_back(current);
    return arguments;
}

namespace
{

const char* const MessagePlaceholders[] = {"%MESSAGEID%", "%FOLDER%"};

} // namespace

bool NamesMessage(const std::string& command)
{
    for (const char* placeholder : MessagePlaceholders)
        if (command.find(placeholder) != std::string::npos)
            return true;
    return false;
}

std::vector<std::string> MailClientArguments(const std::string& command, const TRowValues& message)
{
    return ExpandCommandParts(command, message).Arguments();
}

std::vector<std::string> MailClientArguments(const std::string& command)
{
    std::vector<std::string> arguments =
        TExpandedCommand{command, std::vector<bool>(command.size(), true)}.Arguments();
    std::vector<std::string> kept;
    for (std::string& argument : arguments)
        if (!NamesMessage(argument) || kept.empty())
            kept.push_back(std::move(argument));
    return kept;
}
