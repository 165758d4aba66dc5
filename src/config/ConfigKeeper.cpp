#include "config/ConfigKeeper.h"

#include "config/AccountRows.h"
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
    const QTreeWidget& list = *FSettings.lvwAccounts;
    std::vector<TAccountSecrets::TRowChange> rows;
    std::vector<TSecretKey> stillThere;
    for (int i = 0; i < list.topLevelItemCount() && i < static_cast<int>(Config.Accounts.size()); ++i)
    {
        TAccountSecrets::TRowChange row{std::nullopt, Config.Accounts[i]};
        const std::vector<std::string> origin = RowOrigin(list.topLevelItem(i));
        if (origin.size() == 4)
        {
            row.Was = TSecretKey{origin[0], origin[1], origin[2], origin[3]};
            stillThere.push_back(*row.Was);
        }
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
    FKept.clear();
    QTreeWidget& list = *FSettings.lvwAccounts;
    for (int i = 0; i < list.topLevelItemCount(); ++i)
    {
        QTreeWidgetItem* row = list.topLevelItem(i);
        const TSecretKey key = SecretKeyOf(AccountOfRow(row));
        SetRowOrigin(row, {key.Protocol, key.Host, key.Port, key.User});
        FKept.push_back(key);
    }
}

void TConfigKeeper::RestoreDefaults()
{
    DeleteDefaultSettings();
    Load();
}
