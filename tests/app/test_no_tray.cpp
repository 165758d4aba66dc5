#include "app/AboutBox.h"
#include "app/TrayShell.h"
#include "config/ConfigStore.h"
#include "support/UiFixture.h"

#include <QCoreApplication>

#include <optional>
#include <string>
#include <vector>

namespace
{

// The shell with a desktop whose tray and notification service the test
// decides; every hint told is kept.
class NoTrayTest : public UiFixture
{
protected:
    void SetUp() override
    {
        UiFixture::SetUp();
        about = std::make_unique<TfrmAboutBox>();
        shell = std::make_unique<TTrayShell>(*tray, *keeper, *settings, *newMail, *about);
        shell->Terminate = [] {};
        shell->TrayAvailable = [this] { return trayThere; };
        shell->ShowNoTrayHint = [this](const std::string& text) {
            hints.push_back(text);
            return told;
        };
    }

    void TearDown() override
    {
        shell.reset();
        about.reset();
        UiFixture::TearDown();
    }

    std::unique_ptr<TfrmAboutBox> about;
    std::unique_ptr<TTrayShell> shell;
    bool trayThere = false;
    bool told = true;
    std::vector<std::string> hints;
};

// Only the hive remembers the hint, so each call stands for one start.
TEST_F(NoTrayTest, TheHintIsGivenOnceWithoutATrayAndRememberedInTheHive)
{
    struct Case
    {
        const char* Name;
        bool Tray;
        bool Told;
        std::optional<std::string> Stored; // the value an earlier run left
        size_t Hints;                      // over two starts
        bool Remembered;
    };
    const Case cases[] = {
        {"a tray", true, true, {}, 0, false},
        {"no tray", false, true, {}, 1, true},
        {"no tray, told before", false, true, "dword:00000001", 0, true},
        {"no tray, nobody took the hint", false, false, {}, 2, false},
        {"no tray, a damaged value", false, true, "\"yes\"", 1, true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        {
            TRegistry reg;
            ASSERT_TRUE(reg.OpenKey(ConfigKey, true));
            reg.DeleteValue("NoTrayHintShown");
        }
        if (c.Stored == "dword:00000001")
            Store(ConfigKey, "NoTrayHintShown", 1);
        else if (c.Stored)
            Store(ConfigKey, "NoTrayHintShown", std::string("yes"));
        trayThere = c.Tray;
        told = c.Told;
        hints.clear();

        shell->GiveNoTrayHint();
        shell->GiveNoTrayHint();

        EXPECT_EQ(hints.size(), c.Hints);
        EXPECT_EQ(HiveText().find("\"NoTrayHintShown\"=dword:00000001\n") != std::string::npos,
                  c.Remembered)
            << HiveText();
        for (const std::string& hint : hints)
            EXPECT_NE(hint.find("\"ternbell\" in the application menu"), std::string::npos) << hint;
    }
}

// A panel that starts with the session may come up after the program: the
// tray is asked for after the first load, not at the start.
TEST_F(NoTrayTest, TheFirstTickAsksForTheTrayAfterTheDelay)
{
    shell->NoTrayHintDelayMs = 0;
    told = false; // not remembered, so only the scheduling holds a second hint back
    shell->timMailTimer();
    settings->hide();
    EXPECT_TRUE(hints.empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(hints.size(), 1u);
    shell->timMailTimer(); // later ticks do not ask again
    QCoreApplication::processEvents();
    EXPECT_EQ(hints.size(), 1u);
}

} // namespace
