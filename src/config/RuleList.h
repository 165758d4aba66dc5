#pragma once

#include "i18n/Translate.h"

#include <QAbstractListModel>

#include <array>
#include <string>
#include <vector>

// The mail rules of the settings window, in order, one row each. A rule the
// parser refuses is kept as its text and shown with what is wrong with it, so
// a save writes it back as it was read; only an edit or a removal changes it.
// A plain list: ten thousand rules cost the view nothing but their rows.
class TRuleListModel : public QAbstractListModel
{
public:
    using QAbstractListModel::QAbstractListModel;

    void SetRules(const std::vector<std::string>& rules);
    std::vector<std::string> Rules() const;
    int Count() const { return static_cast<int>(FRows.size()); }
    const std::string& Text(int row) const { return FRows[static_cast<std::size_t>(row)].Text; }
    // What is wrong with the rule at `row`; "" when it is good.
    const std::string& Problem(int row) const { return FRows[static_cast<std::size_t>(row)].Problem; }

    void Append(const std::string& text);
    void Replace(int row, const std::string& text);
    void Remove(int row);
    // Swaps the rule with its neighbour `by` rows away (-1 up, 1 down);
    // false at either end.
    bool Move(int row, int by);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    struct TRow
    {
        std::string Text;
        std::string Problem;
        QString Shown;
    };
    static TRow RowOf(const std::string& text);

    std::vector<TRow> FRows;
};

// The words a rule is written in, as the hive stores them, in the order of
// the parser's actions and fields, which the rule dialog lists.
inline constexpr std::array<const char*, 3> RuleActionWords{"important", "quiet", "ignore"};
inline constexpr std::array<const char*, 4> RuleFieldWords{"from", "subject", "list", "account"};
// What the user reads for them, translated where shown.
inline constexpr std::array<const char*, 3> RuleActionNames{N_("Important"), N_("Quiet"), N_("Ignore")};
inline constexpr std::array<const char*, 4> RuleFieldNames{N_("From"), N_("Subject"), N_("List-Id"),
                                                           N_("Account")};

// A rule's text split into its words: the index of its action and field word
// (-1 where the word is none of them, in any case), the words as written,
// and the rest as its pattern.
struct TRuleParts
{
    int Action = 0;
    int Field = 0;
    std::string ActionWord;
    std::string FieldWord;
    std::string Pattern;
};
TRuleParts SplitRule(const std::string& text);
// The rule's text from the chosen words; an index of -1 keeps the word as
// written.
std::string JoinRule(const TRuleParts& parts);
// What is wrong with a rule's text, as the mail check sees it; "" when good.
std::string RuleProblem(const std::string& text);
