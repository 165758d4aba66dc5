#include "platform/MailClientLookup.h"
#include "platform/Registry.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(MailClientView, RemoveFieldCodes)
{
    struct Case
    {
        const char* exec;
        const char* expected;
    };
    const Case cases[] = {
        {"thunderbird %u", "thunderbird"},
        {"evolution %U --component=mail", "evolution --component=mail"},
        {"kmail --composer %F %i %c %k", "kmail --composer"},
        {"mutt -e \"set x=1\" %u", "mutt -e \"set x=1\""},
        {"prog --percent=100%% %f", "prog --percent=100%"},
        {"prog --file=%f", "prog --file="},
        {"\"/opt/My Mail/mail\" %U", "\"/opt/My Mail/mail\""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RemoveFieldCodes(c.exec), c.expected) << c.exec;
}

TEST(MailClientView, DesktopEntryCommand)
{
    EXPECT_EQ(DesktopEntryCommand("[Desktop Entry]\nName=Mail\nExec=mail\\s-x %u\n"), "mail -x");
    // Only the main group counts.
    EXPECT_EQ(DesktopEntryCommand("[Desktop Action Compose]\nExec=wrong %u\n\n[Desktop Entry]\nExec = right %U\n"),
              "right");
    EXPECT_EQ(DesktopEntryCommand("[Desktop Action Compose]\nExec=wrong\n"), "");
    EXPECT_EQ(DesktopEntryCommand("[Desktop Entry]\nName=No exec\n"), "");
}

namespace {

// A private set of XDG folders, set in the environment for the registry view.
class XdgTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FEnv.Set("XDG_CONFIG_HOME", FRoot + "/config");
        FEnv.Set("XDG_CONFIG_DIRS", FRoot + "/etc");
        FEnv.Set("XDG_DATA_HOME", FRoot + "/data");
        FEnv.Set("XDG_DATA_DIRS", FRoot + "/share1:" + FRoot + "/share2");
        FEnv.Set("XDG_CURRENT_DESKTOP", "ubuntu:GNOME");
    }
    void Desktop(const std::string& folder, const std::string& relative, const std::string& exec)
    {
        WriteFile(FRoot + "/" + folder + "/applications/" + relative,
                  "[Desktop Entry]\nType=Application\nName=X\nExec=" + exec + "\n");
    }
    void Defaults(const std::string& list, const std::string& handlers)
    {
        WriteFile(FRoot + "/" + list, "[Added Associations]\nx-scheme-handler/mailto=added.desktop;\n\n"
                                      "[Default Applications]\ntext/html=web.desktop\n"
                                      "x-scheme-handler/mailto=" + handlers + "\n");
    }

    TempFolder FFolder{"xdg"};
    const std::string FRoot = FFolder.Path();
    ScopedEnvironment FEnv;
};

} // namespace

TEST_F(XdgTest, ListsAreConsultedInXdgOrder)
{
    const TXdgPlaces places = XdgPlacesFromEnvironment();
    const std::vector<std::string> expected = {
        FRoot + "/config/ubuntu-mimeapps.list",
        FRoot + "/config/gnome-mimeapps.list",
        FRoot + "/config/mimeapps.list",
        FRoot + "/etc/ubuntu-mimeapps.list",
        FRoot + "/etc/gnome-mimeapps.list",
        FRoot + "/etc/mimeapps.list",
        FRoot + "/data/applications/ubuntu-mimeapps.list",
        FRoot + "/data/applications/gnome-mimeapps.list",
        FRoot + "/data/applications/mimeapps.list",
        FRoot + "/share1/applications/ubuntu-mimeapps.list",
        FRoot + "/share1/applications/gnome-mimeapps.list",
        FRoot + "/share1/applications/mimeapps.list",
        FRoot + "/share2/applications/ubuntu-mimeapps.list",
        FRoot + "/share2/applications/gnome-mimeapps.list",
        FRoot + "/share2/applications/mimeapps.list",
    };
    EXPECT_EQ(places.MimeappsLists, expected);
    const std::vector<std::string> folders = {FRoot + "/data/applications", FRoot + "/share1/applications",
                                              FRoot + "/share2/applications"};
    EXPECT_EQ(places.ApplicationFolders, folders);
}

TEST_F(XdgTest, FirstInstalledDefaultOfTheFirstListWins)
{
    Desktop("share2", "mutt.desktop", "mutt %u");
    Desktop("share1", "org/gnome/Evolution.desktop", "evolution %U");
    Desktop("data", "tb.desktop", "thunderbird -compose %u");
    Defaults("share1/applications/mimeapps.list", "mutt.desktop");
    Defaults("etc/gnome-mimeapps.list", "missing.desktop;org-gnome-Evolution.desktop;");
    const TXdgPlaces places = XdgPlacesFromEnvironment();
    EXPECT_EQ(DefaultMailtoHandler(places), "org-gnome-Evolution.desktop");
    EXPECT_EQ(FindDesktopFile(places, "org-gnome-Evolution.desktop"),
              FRoot + "/share1/applications/org/gnome/Evolution.desktop");

    // The user's own desktop-specific choice comes before everything.
    Defaults("config/ubuntu-mimeapps.list", "tb.desktop");
    EXPECT_EQ(DefaultMailtoHandler(places), "tb.desktop");
}

TEST_F(XdgTest, RegistryViewAnswersTheTwoReadsOnly)
{
    Desktop("share1", "tb.desktop", "\"/opt/Thunder Bird/tb\" -compose %u");
    Defaults("config/mimeapps.list", "tb.desktop");

    TRegistry reg(THiveRoot::LocalMachine);
    ASSERT_TRUE(reg.OpenKey("Software\\Clients\\Mail", false));
    const std::string name = reg.ReadString("");
    EXPECT_EQ(name, "tb.desktop");
    reg.CloseKey();
    ASSERT_TRUE(reg.OpenKey("Software\\Clients\\Mail\\" + name + "\\shell\\open\\command", false));
    EXPECT_EQ(reg.ReadString(""), "\"/opt/Thunder Bird/tb\" -compose");
    // Read-only: nothing can be written or created.
    EXPECT_THROW(reg.WriteString("", "x"), ERegistryException);
    EXPECT_FALSE(reg.DeleteValue(""));
    reg.CloseKey();
    EXPECT_FALSE(reg.OpenKey("Software\\ternbell", true));
    EXPECT_FALSE(reg.KeyExists("Software\\Clients\\Mail\\other.desktop"));
}

TEST_F(XdgTest, NoHandlerMeansNoKey)
{
    Defaults("config/mimeapps.list", "uninstalled.desktop");
    TRegistry reg(THiveRoot::LocalMachine);
    EXPECT_FALSE(reg.OpenKey("Software\\Clients\\Mail", false));
    EXPECT_FALSE(reg.KeyExists("Software\\Clients"));
}
