#include "desktop/ScrollLock.h"
#include "support/TestHelpers.h"

#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace
{
// A private X server for the test. -noreset keeps the LED state when our
// short-lived connections close; -displayfd lets it pick a free display.
class PrivateXServer
{
public:
    bool Start()
    {
        FProcess.setProgram(QStringLiteral("Xvfb"));
        FProcess.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"),
                               QStringLiteral("-noreset"), QStringLiteral("-nolisten"),
                               QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                               QStringLiteral("320x240x24")});
        FProcess.start();
        if (!FProcess.waitForStarted(5000))
            return false;
        QByteArray number;
        while (!number.contains('\n') && FProcess.waitForReadyRead(10000))
            number += FProcess.readAllStandardOutput();
        if (!number.contains('\n'))
            return false;
        Name = ":" + number.trimmed().toStdString();
        return true;
    }

    ~PrivateXServer() { StopProcess(FProcess); }

    std::string Name;

private:
    QProcess FProcess;
};

std::string XsetQuery(const std::string& display)
{
    QProcess xset;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(display));
    xset.setProcessEnvironment(env);
    xset.start(QStringLiteral("xset"), {QStringLiteral("q")});
    xset.waitForFinished(10000);
    return xset.readAllStandardOutput().simplified().toStdString();
}
}

TEST(ScrollLock, FollowsWritesOnARealXServer)
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        GTEST_SKIP() << "Xvfb is not installed: the X keyboard LED cannot be tested here";
    PrivateXServer server;
    ASSERT_TRUE(server.Start()) << "Xvfb did not come up";
    ScopedEnvironment display("DISPLAY", server.Name);
    const bool xset = !QStandardPaths::findExecutable(QStringLiteral("xset")).isEmpty();

    EXPECT_FALSE(ScrollLockLedOn());
    for (bool on : {true, true, false, true, false})
    {
        SetScrollLockLed(on);
        EXPECT_EQ(ScrollLockLedOn(), on);
        if (xset)
            EXPECT_NE(XsetQuery(server.Name).find(on ? "Scroll Lock: on" : "Scroll Lock: off"),
                      std::string::npos);
    }
}

TEST(ScrollLock, WithoutADisplayNothingFails)
{
    for (const std::optional<std::string>& value :
         {std::optional<std::string>(), std::optional<std::string>(":4711")})
    {
        ScopedEnvironment display("DISPLAY", value);
        EXPECT_FALSE(ScrollLockLedOn());
        EXPECT_NO_THROW(SetScrollLockLed(true));
        EXPECT_FALSE(ScrollLockLedOn());
    }
}
