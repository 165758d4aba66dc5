// A failed save on OK and a failed load on Cancel reach the program's error
// box through the real event path. The error box belongs to the program's own
// application object, so this test brings its own main.
#include "config/ConfigStore.h"
#include "desktop/Application.h"
#include "support/UiFixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <vector>

namespace
{

class SettingsErrorBox : public UiFixture
{
protected:
    void SetUp() override
    {
        UiFixture::SetUp();
        SetMessageAnswerer([this](const TMessageRequest& r) {
            Boxes.push_back(r);
            return TModalResult::mrOk;
        });
        keeper->Load();
        tray->timMail->stop(); // opened through Settings
        ASSERT_TRUE(QTest::qWaitForWindowExposed(settings.get()));
    }

    std::vector<TMessageRequest> Boxes;
};

TEST_F(SettingsErrorBox, FailedSaveOnOkIsShownAndTheWindowStaysOpen)
{
    // A file where the hive's folder should be: nothing can be written.
    TempFolder broken;
    broken.Write("ternbell", "not a folder");
    FEnv.Set("XDG_CONFIG_HOME", broken.Path());
    QTest::mouseClick(settings->btnOk, Qt::LeftButton);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Caption, "ternbell");
    EXPECT_EQ(Boxes[0].Type, TMsgDlgType::mtError);
    EXPECT_NE(Boxes[0].Text.find(broken.Path()), std::string::npos) << Boxes[0].Text;
    EXPECT_TRUE(settings->isVisible());
    EXPECT_FALSE(tray->timMail->isActive());
}

TEST_F(SettingsErrorBox, FailedLoadOnEscIsShownAndTheWindowStaysHidden)
{
    Store(ConfigKey, "CheckingTime", std::string("wrong type"));
    QTest::keyClick(settings->txtApplication, Qt::Key_Escape);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "Invalid data type for 'CheckingTime'");
    EXPECT_FALSE(settings->isVisible());
    EXPECT_FALSE(tray->timMail->isActive());
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ternbell"));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
