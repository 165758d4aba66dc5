#include "config/ConfigKeeper.h"

#include "config/ConfigStore.h"
#include "config/SettingsForm.h"
#include "notify/NewMailForm.h"

#include <QTreeWidget>

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
    if (!existed)
        FSettings.show();
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
    SaveConfig(Config);
}

void TConfigKeeper::RestoreDefaults()
{
    DeleteDefaultSettings();
    Load();
}
