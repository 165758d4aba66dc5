// What the rules cost a check: 1,000 new messages decided by 100 rules, as
// ListMessages does it (each message's fields folded once, then the rules in
// order until one matches). Most messages match none, the dearest case: every
// rule is tried. The rules are of the kinds people write: a sender's domain,
// a word in the subject, a list, an account.

#include "check/MailRules.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace
{

std::vector<std::string> HundredRules()
{
    std::vector<std::string> rules;
    for (int i = 0; i < 100; ++i)
        switch (i % 4)
        {
        case 0: rules.push_back("important from *@boss" + std::to_string(i) + ".example*"); break;
        case 1: rules.push_back("quiet subject *newsletter " + std::to_string(i) + "*"); break;
        case 2: rules.push_back("ignore list <announce-" + std::to_string(i) + ".lists.example>"); break;
        default: rules.push_back("quiet account Hobby?" + std::to_string(i)); break;
        }
    return rules;
}

struct TMessage
{
    std::string From, Subject, List;
};

std::vector<TMessage> ThousandMessages()
{
    std::vector<TMessage> messages;
    for (int i = 0; i < 1000; ++i)
        messages.push_back({"Sender Number " + std::to_string(i) + " <sender" + std::to_string(i) + "@mail.example.org>",
                            "Re: the quarterly report, draft " + std::to_string(i) + " of the figures",
                            i % 3 == 0 ? "Team list <team.lists.example.org>" : ""});
    return messages;
}

void BM_ThousandMessagesHundredRules(benchmark::State& state)
{
    const TMailRules rules(HundredRules());
    const std::vector<TMessage> messages = ThousandMessages();
    int decided = 0;
    for (auto _ : state)
    {
        for (const TMessage& m : messages)
            decided += rules.Decide(FoldedFields(m.From, m.Subject, m.List, "Work")).has_value();
        benchmark::DoNotOptimize(decided);
    }
    state.counters["messages"] = 1000;
}
BENCHMARK(BM_ThousandMessagesHundredRules)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
