#pragma once

#include "config/Config.h"

#include "platform/Hive.h"
#include "platform/SecretStore.h"

#include <functional>
#include <vector>

class TAccountSecrets;
class TfrmNewMail;
class TfrmSettings;

// Holds the program's configuration value and moves it between the hive and
// the windows: a load reads the hive into the value, puts it under its rules
// (SettledConfig) and hands the settings window a copy to edit; a save takes
// the copy the window hands back and writes it. It answers the settings
// window's OK, Cancel and Default.
class TConfigKeeper
{
public:
    TConfigKeeper(TfrmSettings& settings, TfrmNewMail& newMail);
    TConfigKeeper(const TConfigKeeper&) = delete;
    TConfigKeeper& operator=(const TConfigKeeper&) = delete;

    // The configuration as last loaded or saved. Readers take a copy.
    TConfig Config;

    // Registry -> value -> window, then OnLoaded. Stops at the first error,
    // keeping what was loaded before it and the rest as it was (in the value
    // and the window alike); SettingsLoaded tells whether it ran through. On
    // a first start (no stored configuration) the settings window is shown.
    void Load();
    // The window's edited copy -> value -> registry. A hive changed on disk since it was
    // last read or written is read first and merged (MergeConfig), so a
    // save drops nothing it did not load.
    void Save();
    // When the hive changed on disk since it was last read or written (a
    // hand edit): reads it again into the value and the controls, keeping
    // what the program changed since. Applies nothing outside the controls
    // (that is a load's). Raises what the read raised, once per change.
    void Refresh();
    // Deletes the settings the Default button restores and loads again, so
    // their defaults are stored at once.
    void RestoreDefaults();

    // Keeps the passwords in the keyring from now on: each load and save
    // moves the passwords the value holds in, a save moves or deletes the
    // secrets of changed or removed accounts, and the Account page says where
    // passwords are kept. Without it they stay in the hive.
    void UseSecrets(TAccountSecrets& secrets);
    TAccountSecrets* Secrets() const { return FSecrets; }

    // Applies what acts outside the windows' controls (timer, sound, icons,
    // animation, stacking, details panel); an error it raises stops the load.
    std::function<void(const TConfig&)> OnLoaded;
    // The settings window was closed with OK (true, after the save) or with
    // Cancel (false, after the load).
    std::function<void(bool accepted)> OnEditEnded;

private:
    // A loaded value under its rules becomes the value, shown in the windows.
    void Show(const TConfig& loaded);

    // The rows' identities as they are now become where their secrets are.
    void MarkKept();
    // The hive changed on disk since it was last read or written here.
    bool HiveChanged() const;
    // The hive read again over what was last read, and merged with the
    // controls; `fromMine` as MergeConfig gives it. The stored value and
    // stamp follow the read, also when it fails (then it raises).
    TConfig Reread(const TConfig& mine, std::vector<int>& fromMine);

    TfrmSettings& FSettings;
    TfrmNewMail& FNewMail;
    TAccountSecrets* FSecrets = nullptr;
    std::vector<TSecretKey> FKept;
    // The value as last loaded or saved, as the controls gave it back, and
    // the hive file as it was just before.
    TConfig FStored;
    THiveFileStamp FStamp;
    bool FRead = false; // a load has begun: FStored is worth merging with
};
