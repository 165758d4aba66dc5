#include "config/AccountSecrets.h"

#include "check/CheckRules.h"
#include "config/ConfigStore.h"
#include "i18n/Translate.h"
#include "platform/CodePage.h"

#include <memory>
#include <set>

namespace
{

std::string Utf8(const std::string& text)
{
    return FromCodePage(text).toStdString();
}

std::string DesktopText(const std::string& utf8)
{
    return ToCodePage(QString::fromStdString(utf8));
}

} // namespace

TSecretKey SecretKeyOf(const Account& a)
{
    return TSecretKey{a.JMAP ? "jmap" : a.IMAP4 ? "imap" : "pop3", Utf8(a.Host), Utf8(a.Port), Utf8(a.UserName), {}};
}

std::string SecretLabelOf(const Account& a)
{
    return "ternbell: " + Utf8(a.UserName) + " on " + Utf8(a.Host);
}

TAccountSecrets::TAccountSecrets(TSecretStore& store) : FStore(store)
{
}

void TAccountSecrets::MoveIn(const std::vector<Account>& accounts)
{
    if (FStore.Presence() == TSecretStore::TPresence::Absent)
        return;
    for (const Account& a : accounts)
    {
        if (a.Password.empty())
            continue;
        const TSecretKey key = SecretKeyOf(a);
        FStore.Write(key, SecretLabelOf(a), Utf8(a.Password), [this, a, key](const TSecretReply& reply) {
            if (reply.Status != TSecretStatus::Done)
                return; // the hive keeps it; the next load or save tries again
            FKnown[key] = a.Password;
            EmptyStoredPassword(a);
            if (OnKept)
                OnKept(a);
        });
    }
}

void TAccountSecrets::Follow(const std::vector<TRowChange>& rows, const std::vector<TSecretKey>& removed)
{
    if (FStore.Presence() == TSecretStore::TPresence::Absent)
        return;
    std::set<TSecretKey> used;
    for (const TRowChange& row : rows)
        used.insert(SecretKeyOf(row.Now));
    const auto forget = [this, used](const TSecretKey& key) {
        if (used.count(key))
            return;
        FKnown.erase(key);
        FStore.Delete(key, {});
    };
    for (const TSecretKey& key : removed)
        forget(key);
    for (const TRowChange& row : rows)
    {
        if (!row.Was || *row.Was == SecretKeyOf(row.Now))
            continue;
        if (!row.Now.Password.empty())
        {
            forget(*row.Was); // the typed password goes in under the new key
            continue;
        }
        // Read, write under the new key, and only then delete the old one.
        const TSecretKey was = *row.Was;
        const Account now = row.Now;
        const bool keepOld = used.count(was) > 0;
        FStore.Read(was, [this, was, now, keepOld](const TSecretReply& read) {
            if (read.Status != TSecretStatus::Done)
                return;
            FStore.Write(SecretKeyOf(now), SecretLabelOf(now), read.Secret,
                         [this, was, now, keepOld, secret = DesktopText(read.Secret)](const TSecretReply& written) {
                             if (written.Status != TSecretStatus::Done)
                                 return;
                             FKnown[SecretKeyOf(now)] = secret;
                             if (!keepOld)
                             {
                                 FKnown.erase(was);
                                 FStore.Delete(was, {});
                             }
                         });
        });
    }
}

void TAccountSecrets::Gather(std::vector<Account> accounts, TGathered done)
{
    std::vector<std::string> withheld(accounts.size());
    std::vector<std::size_t> needed;
    if (FStore.Presence() != TSecretStore::TPresence::Absent)
        for (std::size_t i = 0; i < accounts.size(); ++i)
            if (accounts[i].Enabled && accounts[i].Password.empty())
                needed.push_back(i);
    if (needed.empty())
    {
        done(std::move(accounts), std::move(withheld));
        return;
    }

    struct TRound
    {
        std::vector<Account> Accounts;
        std::vector<std::string> Withheld;
        std::size_t Waiting = 0;
        TGathered Done;
    };
    auto round = std::make_shared<TRound>(TRound{std::move(accounts), std::move(withheld), needed.size(), std::move(done)});
    for (std::size_t i : needed)
    {
        const TSecretKey key = SecretKeyOf(round->Accounts[i]);
        FStore.Read(key, [this, round, i, key](const TSecretReply& reply) {
            switch (reply.Status)
            {
            case TSecretStatus::Done:
                round->Accounts[i].Password = DesktopText(reply.Secret);
                FKnown[key] = round->Accounts[i].Password;
                break;
            case TSecretStatus::Refused:
                round->Withheld[i] = ResStr("The keyring stayed locked; the password was not read.");
                break;
            case TSecretStatus::Failed:
                round->Withheld[i] =
                    FormatOne(ResStr("The keyring did not give the password: %1"), "%1", DesktopText(reply.Message));
                break;
            default: // nothing kept, or no keyring: the password is empty, as stored
                break;
            }
            if (--round->Waiting == 0)
                round->Done(std::move(round->Accounts), std::move(round->Withheld));
        });
    }
}

Account TAccountSecrets::WithKnownPassword(Account account) const
{
    if (account.Password.empty())
    {
        const auto found = FKnown.find(SecretKeyOf(account));
        if (found != FKnown.end())
            account.Password = found->second;
    }
    return account;
}

void TAccountSecrets::ProbeIfUnknown()
{
    if (FStore.Presence() == TSecretStore::TPresence::Unknown)
        FStore.Probe({});
}
