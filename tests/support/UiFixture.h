#pragma once

#include "app/ProcessEntry.h"
#include "app/TrayParts.h"
#include "config/ConfigKeeper.h"
#include "config/ConfigStore.h"
#include "config/ProcessFlags.h"
#include "config/SettingsForm.h"
#include "notify/NewMailForm.h"
#include "desktop/Dialogs.h"
#include "platform/Registry.h"
#include "support/TestHelpers.h"

#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>
#include <string>

// A fresh per-user hive and state (XDG_CONFIG_HOME and XDG_STATE_HOME in a
// temporary folder), the process
// flags as at start, and the tray parts, the settings and notification
// windows and the configuration keeper created the way the program creates
// them. Message boxes are refused loudly unless a test
// installs its own answerer.
class UiFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FHome.isValid());
        FEnv.Set("XDG_CONFIG_HOME", FHome.path().toLocal8Bit().toStdString());
        FEnv.Set("XDG_STATE_HOME", FHome.path().toLocal8Bit().toStdString() + "/state");
        LoadPending = true;
        ClearListPending = false;
        ExitConfirmed = false;
        SettingsLoaded = false;
        SetMessageAnswerer([](const TMessageRequest& r) {
            ADD_FAILURE() << "unexpected message box: " << r.Text;
            return TModalResult::mrCancel;
        });
        SetFileAnswerer([](const TFileRequest&) { return std::optional<std::string>(); });
        PrepareStartup();
        tray = std::make_unique<TTrayParts>();
        settings = std::make_unique<TfrmSettings>();
        newMail = std::make_unique<TfrmNewMail>();
        settings->frmNewMail = newMail.get();
        keeper = std::make_unique<TConfigKeeper>(*settings, *newMail);
        tray->timMail->start();
    }

    void TearDown() override
    {
        keeper.reset();
        settings.reset();
        newMail.reset();
        tray.reset();
        SetMessageAnswerer({});
        SetFileAnswerer({});
    }

    std::string HiveText() const { return ReadFile(UserHivePath()); }

    // Values written straight into the hive, as an earlier run would have left them.
    static void Store(const std::string& key, const std::string& name, int32_t value)
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(key, true));
        reg.WriteInteger(name, value);
    }
    static void Store(const std::string& key, const std::string& name, const std::string& value)
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(key, true));
        reg.WriteString(name, value);
    }
    static bool Exists(const std::string& key, const std::string& name)
    {
        TRegistry reg;
        return reg.OpenKey(key, false) && reg.ValueExists(name);
    }
    static int32_t Integer(const std::string& key, const std::string& name)
    {
        TRegistry reg;
        EXPECT_TRUE(reg.OpenKey(key, false));
        return reg.ReadInteger(name);
    }
    static std::string String(const std::string& key, const std::string& name)
    {
        TRegistry reg;
        EXPECT_TRUE(reg.OpenKey(key, false));
        return reg.ReadString(name);
    }

    QTemporaryDir FHome;
    ScopedEnvironment FEnv; // restored before FHome goes
    std::unique_ptr<TTrayParts> tray;
    std::unique_ptr<TfrmSettings> settings;
    std::unique_ptr<TfrmNewMail> newMail;
    std::unique_ptr<TConfigKeeper> keeper;
};
