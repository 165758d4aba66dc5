#include "app/NewMailEnvironment.h"

#include "app/MailCheck.h"
#include "app/TrayParts.h"
#include "config/AccountSecrets.h"
#include "config/Config.h"
#include "config/ConfigStore.h"
#include "desktop/TrayIcon.h"
#include "mail/IdLineAbort.h"
#include "notify/DeleteRun.h"


#include <algorithm>
#include <utility>

namespace
{

using TPlanRun = TDeleteOutcome (*)(const TDeletePlan&, const std::function<TDeleteClient&(TMailProtocol protocol)>&);

// Runs `run` over the plan on a worker while no round is under way, with one
// client per kind made there, then `done` with its outcome on this thread.
void RunPlanAlone(TMailCheck& checks, TDeleteFactory makeClient, TDeletePlan plan, TPlanRun run,
                  std::function<void(TDeleteOutcome)> done)
{
    auto abort = std::make_shared<TIdLineAbort>();
    auto outcome = std::make_shared<TDeleteOutcome>();
    TWorkerPool::TJob job;
    job.Work = [plan = std::move(plan), makeClient = std::move(makeClient), run, abort, outcome] {
        std::unique_ptr<TDeleteClient> clients[MailProtocolCount];
        *outcome = run(plan, [&](TMailProtocol protocol) -> TDeleteClient& {
            std::unique_ptr<TDeleteClient>& client = clients[protocol];
            if (!client)
                client = makeClient(protocol, abort);
            return *client;
        });
    };
    job.Done = [outcome, done = std::move(done)] { done(std::move(*outcome)); };
    job.Abort = [abort] { abort->Abort(); };
    checks.RunAlone(std::move(job));
}

} // namespace

std::vector<Account> AccountsWithKnownPasswords(const TConfig& config, const TAccountSecrets* secrets)
{
    std::vector<Account> accounts = config.Accounts;
    if (secrets)
        for (Account& a : accounts)
            a = secrets->WithKnownPassword(a);
    return accounts;
}

TDeletePlan PlanOfTold(std::vector<Account> accounts, const std::vector<TToldMessage>& told)
{
    TDeletePlan plan;
    plan.Accounts = std::move(accounts);
    for (const TToldMessage& m : told)
        if (m.Account >= 0 && static_cast<std::size_t>(m.Account) < plan.Accounts.size())
            plan.Targets.push_back({m.Account, m.Number, m.Shown, plan.Accounts[m.Account].Caption, m.Mailbox});
    std::stable_sort(plan.Targets.begin(), plan.Targets.end(),
                     [](const TDeleteTarget& a, const TDeleteTarget& b) { return a.Account < b.Account; });
    return plan;
}

void MarkReadBeside(TMailCheck& checks, const TDeleteFactory& makeClient, TDeletePlan plan)
{
    TMailCheck* check = &checks;
    RunPlanAlone(checks, makeClient, std::move(plan), &MarkTargetsRead, [check](TDeleteOutcome outcome) {
        if (!outcome.Touched.empty())
            check->CheckOnly(outcome.Touched);
        if (outcome.Failure)
            std::rethrow_exception(outcome.Failure);
    });
}

TNewMailEnvironment NewMailEnvironment(const TConfig& config, TTrayParts& tray, std::function<void()> checkNow,
                                       TMailCheck& checks, TDeleteFactory makeDelete,
                                       const TAccountSecrets* secrets)
{
    TNewMailEnvironment env;
    const TConfig* c = &config;
    env.Accounts = [c, secrets] { return AccountsWithKnownPasswords(*c, secrets); };
    env.EmailClient = [c] { return c->EmailClient; };
    env.AutoHide = [c] { return c->FormAutoHide > 0; };
    env.AutoHideSeconds = [c] { return c->FormAutoHide; };
    env.ReaderCommand = [] { return ReaderCommand; };
    env.CheckNow = std::move(checkNow);
    TMailCheck* check = &checks;
    env.AfterChecks = [check](std::function<void()> then) { check->WhenIdle(std::move(then)); };
    env.CheckOnly = [check](std::vector<int> accounts) { check->CheckOnly(std::move(accounts)); };
    env.DeleteBeside = [check, makeDelete = std::move(makeDelete)](TDeletePlan plan,
                                                                   std::function<void(TDeleteOutcome)> done) {
        RunPlanAlone(*check, makeDelete, std::move(plan), &DeleteTargets, std::move(done));
    };
    env.RunBeside = [check](std::function<void()> work, std::function<void()> done) {
        check->RunBeside({std::move(work), std::move(done), {}});
    };
    TTrayParts* t = &tray;
    env.HideNewMailIcon = [t] { t->triNewMsg->SetVisible(false); };
    return env;
}
