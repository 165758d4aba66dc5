#include "support/PrivateNotifications.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>

#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>

std::string PrivateNotifications::Unavailable()
{
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
    // Its runtime here (LLVM 14) stops the test on an internal check
    // ("!thr->slot", tsan_rtl.cpp) once the X server and dunst are started.
    return "the thread sanitizer's runtime fails on this test's processes";
#endif
#endif
    for (const char* tool : {"dunst", "dunstctl", "Xvfb"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return std::string(tool) + " is not installed";
    return PrivateKeyring::Unavailable();
}

PrivateNotifications::PrivateNotifications()
{
    try
    {
        Start();
    }
    catch (...)
    {
        StopProcess(FDunst);
        StopProcess(FX);
        throw;
    }
}

PrivateNotifications::~PrivateNotifications()
{
    StopProcess(FDunst);
    StopProcess(FX);
}

void PrivateNotifications::Start()
{
    const std::string why = Unavailable();
    if (!why.empty())
        throw std::runtime_error(why);
    // -displayfd: the server picks a free display and writes its number.
    EndWithTest(FX);
    FX.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                                      QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                                      QStringLiteral("0"), QStringLiteral("640x480x24")});
    QByteArray number;
    while (!number.contains('\n') && FX.waitForReadyRead(10000))
        number += FX.readAllStandardOutput();
    if (!number.contains('\n'))
        throw std::runtime_error("Xvfb did not start");
    FDisplay = ":" + number.trimmed().toStdString();
    StartServer();
}

void PrivateNotifications::StartServer()
{

    // The menu script keeps what it was offered and answers with the line
    // of the action named in "pick".
    // dunst runs it on its own time, so it says when it is through.
    const std::string menu = FFolder.Write("menu.sh", "#!/bin/sh\ncat > '" + FFolder.File("offered") +
                                                          "'\ngrep -F \",$(cat '" + FFolder.File("pick") +
                                                          "')]\" '" + FFolder.File("offered") + "'\ntouch '" +
                                                          FFolder.File("picked") + "'\n");
    chmod(menu.c_str(), 0700);
    FFolder.Write("dunstrc", "[global]\n    markup = full\n    dmenu = " + menu +
                                 "\n    history_length = 100\n    show_indicators = no\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(FDisplay));
    env.insert(QStringLiteral("HOME"), QString::fromStdString(FFolder.Path()));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(FFolder.File("config")));
    FDunst.setProcessEnvironment(env);
    FDunst.setProcessChannelMode(QProcess::MergedChannels);
    EndWithTest(FDunst);
    FDunst.setStandardOutputFile(QString::fromStdString(FFolder.File("dunst.log")));
    FDunst.start(QStringLiteral("dunst"), {QStringLiteral("-config"), QString::fromStdString(FFolder.File("dunstrc"))});
    if (!FDunst.waitForStarted(5000))
        throw std::runtime_error("dunst did not start");
    for (int i = 0; i < 100; ++i)
    {
        if (Control({"count", "displayed"}).find_first_of("0123456789") != std::string::npos)
            return;
        QThread::msleep(50);
    }
    throw std::runtime_error("dunst did not come onto the bus: " + ReadFile(FFolder.File("dunst.log")));
}

void PrivateNotifications::StopServer()
{
    StopProcess(FDunst);
}

void PrivateNotifications::SetPaused(bool paused)
{
    Control({"set-paused", paused ? "true" : "false"});
}

std::string PrivateNotifications::Control(const std::vector<std::string>& arguments)
{
    QProcess tool;
    QStringList list;
    for (const std::string& a : arguments)
        list << QString::fromStdString(a);
    tool.start(QStringLiteral("dunstctl"), list);
    if (!tool.waitForFinished(10000))
    {
        StopProcess(tool);
        throw std::runtime_error("dunstctl did not finish");
    }
    return tool.readAllStandardOutput().toStdString();
}

int PrivateNotifications::Displayed()
{
    return std::stoi(Control({"count", "displayed"}));
}

std::vector<PrivateNotifications::TShown> PrivateNotifications::CloseAllAndHistory()
{
    Control({"close-all"});
    const QJsonDocument history = QJsonDocument::fromJson(QByteArray::fromStdString(Control({"history"})));
    std::vector<TShown> shown;
    for (const QJsonValue& item : history.object().value(QStringLiteral("data")).toArray().at(0).toArray())
    {
        const QJsonObject o = item.toObject();
        auto field = [&o](const char* name) { return o.value(QString::fromLatin1(name)).toObject().value("data"); };
        shown.push_back({field("appname").toString().toStdString(), field("summary").toString().toStdString(),
                         field("body").toString().toStdString(), field("id").toInt()});
    }
    return shown;
}

std::string PrivateNotifications::InvokeAction(const std::string& key)
{
    FFolder.Write("pick", key);
    const std::string picked = FFolder.File("picked");
    std::filesystem::remove(picked);
    WriteFile(FFolder.File("offered"), "");
    Control({"context"});
    for (int i = 0; i < 200 && !std::filesystem::exists(picked); ++i)
        QThread::msleep(50);
    return ReadFile(FFolder.File("offered"));
}
