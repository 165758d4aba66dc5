#include "config/RuleList.h"

#include "check/MailRules.h"
#include "platform/AsciiText.h"
#include "platform/CodePage.h"

#include <QApplication>
#include <QStyle>
#include <QTextDocument>

#include <algorithm>

namespace
{

// A row shows no more of a rule than fits a screen: a pattern of 100 KB is
// kept whole but not laid out whole.
constexpr qsizetype ShownLength = 300;

QString Shortened(QString text)
{
    if (text.size() > ShownLength)
        text = text.left(ShownLength) + QChar(0x2026);
    return text;
}

int WordIndex(const auto& words, const std::string& word)
{
    for (std::size_t i = 0; i < words.size(); ++i)
        if (word == words[i])
            return static_cast<int>(i);
    return -1;
}

// The lists of words follow the parser's order.
static_assert(static_cast<int>(TRuleAction::Important) == 0 && static_cast<int>(TRuleAction::Ignore) == 2 &&
              static_cast<int>(TRuleField::From) == 0 && static_cast<int>(TRuleField::Account) == 3);

} // namespace

TRuleParts SplitRule(const std::string& text)
{
    TRuleParts parts;
    if (const TRuleParse parsed = ParseMailRule(text); parsed.Rule)
    {
        parts.Action = static_cast<int>(parsed.Rule->Action);
        parts.Field = static_cast<int>(parsed.Rule->Field);
        parts.ActionWord = RuleActionWords[static_cast<std::size_t>(parts.Action)];
        parts.FieldWord = RuleFieldWords[static_cast<std::size_t>(parts.Field)];
        parts.Pattern = parsed.Rule->Pattern;
        return parts;
    }
    // A rule the check cannot use: its words as far as they are known, the
    // rest after two words as its pattern.
    const std::string trimmed = AsciiText::Trim(text);
    std::size_t at = 0;
    const auto word = [&] {
        const std::size_t end = std::min(trimmed.find_first_of(" \t", at), trimmed.size());
        std::string w = trimmed.substr(at, end - at);
        at = std::min(trimmed.find_first_not_of(" \t", end), trimmed.size());
        return w;
    };
    parts.ActionWord = word();
    parts.FieldWord = word();
    parts.Action = WordIndex(RuleActionWords, AsciiText::LowerCase(parts.ActionWord));
    parts.Field = WordIndex(RuleFieldWords, AsciiText::LowerCase(parts.FieldWord));
    parts.Pattern = trimmed.substr(at);
    return parts;
}

std::string JoinRule(const TRuleParts& parts)
{
    const auto word = [](const auto& words, int i, const std::string& written) {
        return i >= 0 && i < static_cast<int>(words.size()) ? std::string(words[i]) : written;
    };
    return word(RuleActionWords, parts.Action, parts.ActionWord) + " " +
           word(RuleFieldWords, parts.Field, parts.FieldWord) + " " + parts.Pattern;
}

TRuleListModel::TRow TRuleListModel::RowOf(const std::string& text)
{
    const TRuleParse parsed = ParseMailRule(text);
    TRow row{text, parsed.Error, {}};
    if (parsed.Rule)
        row.Shown = ResText(RuleActionNames[static_cast<std::size_t>(parsed.Rule->Action)]) +
                    QStringLiteral(" \u00b7 ") +
                    ResText(RuleFieldNames[static_cast<std::size_t>(parsed.Rule->Field)]) +
                    QStringLiteral(" \u00b7 ") + Shortened(FromCodePage(parsed.Rule->Pattern));
    else
        row.Shown = Shortened(FromCodePage(text)); // marked, its problem told beside
    return row;
}

void TRuleListModel::SetRules(const std::vector<std::string>& rules)
{
    beginResetModel();
    FRows.clear();
    FRows.reserve(rules.size());
    for (const std::string& text : rules)
        FRows.push_back(RowOf(text));
    endResetModel();
}

std::vector<std::string> TRuleListModel::Rules() const
{
    std::vector<std::string> rules;
    rules.reserve(FRows.size());
    for (const TRow& row : FRows)
        rules.push_back(row.Text);
    return rules;
}

void TRuleListModel::Append(const std::string& text)
{
    const int row = Count();
    beginInsertRows({}, row, row);
    FRows.push_back(RowOf(text));
    endInsertRows();
}

void TRuleListModel::Replace(int row, const std::string& text)
{
    if (row < 0 || row >= Count())
        return;
    FRows[static_cast<std::size_t>(row)] = RowOf(text);
    emit dataChanged(index(row), index(row));
}

void TRuleListModel::Remove(int row)
{
    if (row < 0 || row >= Count())
        return;
    beginRemoveRows({}, row, row);
    FRows.erase(FRows.begin() + row);
    endRemoveRows();
}

bool TRuleListModel::Move(int row, int by)
{
    const int to = row + by;
    if (row < 0 || row >= Count() || to < 0 || to >= Count() || by == 0)
        return false;
    // The model's move names the row a moved one lands before.
    if (!beginMoveRows({}, row, row, {}, by > 0 ? to + 1 : to))
        return false;
    std::swap(FRows[static_cast<std::size_t>(row)], FRows[static_cast<std::size_t>(to)]);
    endMoveRows();
    return true;
}

int TRuleListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Count();
}

QVariant TRuleListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= Count())
        return {};
    const TRow& row = FRows[static_cast<std::size_t>(index.row())];
    switch (role)
    {
    case Qt::DisplayRole:
        return row.Shown;
    case Qt::ToolTipRole:
        // The rule is the user's text: never read as markup.
        return row.Problem.empty() ? QVariant()
                                   : QVariant(Qt::convertFromPlainText(FromCodePage(row.Problem)));
    case Qt::DecorationRole:
        return row.Problem.empty() ? QVariant()
                                   : QVariant(QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning));
    default:
        return {};
    }
}

std::string RuleProblem(const std::string& text)
{
    return ParseMailRule(text).Error;
}
