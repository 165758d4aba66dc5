#include "config/ConfigKeeper.h"

#include "config/AccountSecrets.h"
#include "config/ConfigStore.h"
#include "config/SettingsForm.h"
#include "notify/NewMailForm.h"

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
}

void TConfigKeeper::Load()
{
    SettingsLoaded = false;
    // What a load does not reach stays as the controls hold it.
    TConfig loaded = FSettings.ConfigOfControls();
    bool existed = true;
    try
    {
        existed = LoadConfig(loaded, FNewMail.lvwMessages->columnCount());
    }
    catch (...)
    {
        Show(loaded);
        throw;
    }
    Show(loaded);
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
    FSettings.ShowConfig(loaded);
    // The controls keep the times in their ranges; the value is what they hold.
    Config = FSettings.ConfigOfControls();
}

void TConfigKeeper::Save()
{
    Config = FSettings.ConfigOfControls();
    // A typed password reaches the hive first and leaves it once the keyring
    // has it, so a keyring that fails loses nothing.
    SaveConfig(Config);
    if (!FSecrets)
        return;
    const std::vector<std::optional<TSecretKey>> origins = FSettings.AccountOrigins();
    std::vector<TAccountSecrets::TRowChange> rows;
    std::vector<TSecretKey> stillThere;
    for (size_t i = 0; i < origins.size() && i < Config.Accounts.size(); ++i)
    {
        TAccountSecrets::TRowChange row{origins[i], Config.Accounts[i]};
        if (origins[i])
            stillThere.push_back(*origins[i]);
        rows.push_back(row);
    }
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
    TSecretStore& store = secrets.Store();
    FSettings.ShowPasswordStore(store.Presence());
    store.OnPresenceChanged = [this, &store] { FSettings.ShowPasswordStore(store.Presence()); };
    secrets.OnKept = [this](const Account& kept) {
        for (Account& a : Config.Accounts)
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
