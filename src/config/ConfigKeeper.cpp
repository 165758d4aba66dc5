#include "config/ConfigKeeper.h"

#include "config/AccountSecrets.h"
#include "config/ConfigStore.h"
#include "config/ConfigRules.h"
#include "config/SettingsForm.h"
#include "desktop/Application.h"
#include "notify/NewMailForm.h"
#include "platform/Registry.h"

#include <QTimer>
#include <QTreeWidget>

#include <algorithm>

TConfigKeeper::TConfigKeeper(TfrmSettings& settings, TfrmNewMail& newMail)
    : FSettings(settings), FNewMail(newMail)
{
    FSettings.OnAccept = [this] {
        Save();
        if (OnEditEnded)
            OnEditEnded(true);
    };
    FSettings.OnReject = [this] {
        Load();
        if (OnEditEnded)
            OnEditEnded(false);
    };
    FSettings.OnRestoreDefaults = [this] { RestoreDefaults(); };
    FSettings.OnShowing = [this] {
        try
        {
            Refresh();
        }
        catch (const Exception& e)
        {
            // The window opens all the same, with what could be read.
            QTimer::singleShot(0, &FSettings, [message = e.Message] { TApplication::ShowException(message); });
        }
    };
}

namespace
{

// A value passed over is no reason to stop: it is said where a person
// starting the program from a terminal, or its journal, sees it.
void TellLoadNotes()
{
    for (const std::string& note : LoadNotes)
        qWarning("ternbell: %s", note.c_str());
}

} // namespace

void TConfigKeeper::Load()
{
    SettingsLoaded = false;
    // What a load does not reach stays as it was (before the first load, as
    // the window starts); the notification window's fold and widths as the
    // user left them.
    TConfig loaded = FRead ? Config : InitialConfigOfControls();
    ReadNotificationWindow(FNewMail, loaded);
    bool existed = true;
    // Taken before the read: a hand edit made while it runs is seen later.
    FStamp = HiveFileStamp(UserHivePath());
    FRead = true;
    try
    {
        existed = LoadConfig(loaded, FNewMail.lvwMessages->columnCount());
    }
    catch (...)
    {
        TellLoadNotes();
        Show(loaded);
        FStored = Config;
        throw;
    }
    TellLoadNotes();
    Show(loaded);
    FStored = Config;
    if (OnLoaded)
        OnLoaded(Config);
    SettingsLoaded = true;
    if (FSecrets)
    {
        MarkKept();
        FSecrets->MoveIn(Config.Accounts);
    }
    if (!existed)
    {
        if (FSecrets)
            FSecrets->ProbeIfUnknown();
        FSettings.show();
    }
}

void TConfigKeeper::Show(const TConfig& loaded)
{
    Config = SettledConfig(loaded);
    FSettings.ShowConfig(Config);
    // Widths the value leaves out stay as the list has them.
    ReadNotificationWindow(FNewMail, Config);
}

bool TConfigKeeper::HiveChanged() const
{
    // A stamp taken within the file clock's granularity of a write may
    // look like a later one: such a stamp is never trusted.
    return !FStamp.Settled || !HiveFileStamp(UserHivePath()).Same(FStamp);
}

TConfig TConfigKeeper::Reread(const TConfig& mine, std::vector<int>& fromMine)
{
    // What the read does not reach counts as unchanged.
    TConfig stored = FStored;
    FStamp = HiveFileStamp(UserHivePath());
    std::exception_ptr failure;
    try
    {
        LoadConfig(stored, FNewMail.lvwMessages->columnCount());
    }
    catch (...)
    {
        failure = std::current_exception();
    }
    const TConfig merged = MergeConfig(FStored, mine, stored, &fromMine);
    FStored = SettledConfig(stored);
    FStored.FormShowDetails = mine.FormShowDetails;
    FStored.ColumnWidths = mine.ColumnWidths;
    if (failure)
        std::rethrow_exception(failure);
    return merged;
}

void TConfigKeeper::Refresh()
{
    if (!SettingsLoaded || !HiveChanged())
        return;
    std::vector<int> fromMine;
    const TConfig mine = FSettings.ConfigOfControls();
    const TConfig merged = Reread(mine, fromMine);
    if (merged == mine)
        return;
    Show(merged);
    if (FSecrets)
    {
        MarkKept();
        FSecrets->MoveIn(Config.Accounts);
    }
}

void TConfigKeeper::Save()
{
    Config = FSettings.ConfigOfControls();
    std::vector<std::optional<TSecretKey>> origins = FSettings.AccountOrigins();
    // Only rows removed in the window lose their secrets, not accounts a
    // hand edit took out of the hive.
    std::vector<TSecretKey> stillThere;
    for (const auto& origin : origins)
        if (origin)
            stillThere.push_back(*origin);
    if (FRead && HiveChanged())
    {
        std::vector<int> fromMine;
        TConfig merged = Config;
        try
        {
            merged = Reread(Config, fromMine);
        }
        catch (const Exception&)
        {
            // A hand edit that cannot be read is what this save writes over.
        }
        if (merged != Config)
        {
            std::vector<std::optional<TSecretKey>> mergedOrigins;
            for (int from : fromMine)
                mergedOrigins.push_back(from >= 0 && from < static_cast<int>(origins.size()) ? origins[from]
                                                                                            : std::nullopt);
            origins = std::move(mergedOrigins);
            Show(merged);
        }
    }
    const THiveFileStamp before = HiveFileStamp(UserHivePath());
    // A typed password reaches the hive first and leaves it once the keyring
    // has it, so a keyring that fails loses nothing.
    SaveConfig(Config);
    FStored = Config;
    FStamp = before;
    if (!FSecrets)
        return;
    std::vector<TAccountSecrets::TRowChange> rows;
    for (size_t i = 0; i < origins.size() && i < Config.Accounts.size(); ++i)
        rows.push_back({origins[i], Config.Accounts[i]});
    std::vector<TSecretKey> removed;
    for (const TSecretKey& key : FKept)
        if (std::find(stillThere.begin(), stillThere.end(), key) == stillThere.end())
            removed.push_back(key);
    FSecrets->Follow(rows, removed);
    FSecrets->MoveIn(Config.Accounts);
    MarkKept();
}

void TConfigKeeper::UseSecrets(TAccountSecrets& secrets)
{
    FSecrets = &secrets;
    FSettings.ReadPassword = [&secrets](const Account& account, std::function<void(const Account&)> then) {
        Account asked = account;
        asked.Enabled = true; // read whether the account is checked or not
        secrets.Gather({asked}, [account, then = std::move(then)](std::vector<Account> read, std::vector<std::string>) {
            Account filled = account;
            filled.Password = read.front().Password;
            then(filled);
        });
    };
    TSecretStore& store = secrets.Store();
    FSettings.ShowPasswordStore(store.Presence());
    store.OnPresenceChanged = [this, &store] { FSettings.ShowPasswordStore(store.Presence()); };
    secrets.OnKept = [this](const Account& kept) {
        for (std::vector<Account>* accounts : {&Config.Accounts, &FStored.Accounts})
            for (Account& a : *accounts)
                if (a.Password == kept.Password && SecretKeyOf(a) == SecretKeyOf(kept))
                    a.Password.clear();
        FSettings.ForgetPassword(kept);
    };
}

void TConfigKeeper::MarkKept()
{
    FKept = FSettings.MarkAccountOrigins();
}

void TConfigKeeper::RestoreDefaults()
{
    DeleteDefaultSettings();
    Load();
}
