#include "support/PrivateKeyring.h"

#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>

#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace
{

const char* const TestPassword = "keyring test password";

QStringList ListOf(const std::vector<std::string>& items)
{
    QStringList list;
    for (const std::string& item : items)
        list << QString::fromStdString(item);
    return list;
}

} // namespace

std::string PrivateKeyring::Unavailable()
{
    for (const char* tool : {"dbus-daemon", "dbus-send", "gnome-keyring-daemon", "secret-tool"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return std::string(tool) + " is not installed";
    return {};
}

PrivateKeyring::PrivateKeyring(TSetup setup)
{
    try
    {
        Start(setup);
    }
    catch (...)
    {
        StopProcess(FKeyring);
        StopProcess(FBus);
        throw;
    }
}

void PrivateKeyring::Start(TSetup setup)
{
    const std::string why = Unavailable();
    if (!why.empty())
        throw std::runtime_error(why);
    const std::string socket = FFolder.File("bus");
    FAddress = "unix:path=" + socket;
    FFolder.Write("bus.conf", "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                              "<busconfig><type>session</type><listen>" + FAddress + "</listen>"
                              "<auth>EXTERNAL</auth><policy context=\"default\">"
                              "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                              "<allow own=\"*\"/></policy></busconfig>\n");
    FBus.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    EndWithTest(FBus);
    FBus.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--nofork"), QString::fromStdString("--config-file=" + FFolder.File("bus.conf"))});
    // The socket is there before the daemon listens on it: asked once, it
    // answers.
    bool answering = false;
    for (int i = 0; i < 100 && !answering; ++i)
    {
        answering = std::filesystem::exists(socket) &&
                    Tool({"dbus-send", "--bus=" + FAddress, "--print-reply", "--dest=org.freedesktop.DBus",
                          "/org/freedesktop/DBus", "org.freedesktop.DBus.GetId"})
                            .find("string") != std::string::npos;
        if (!answering)
            QThread::msleep(50);
    }
    if (!answering)
        throw std::runtime_error("the private bus did not start");
    FEnvironment.Set("DBUS_SESSION_BUS_ADDRESS", FAddress);
    if (setup == TSetup::WithoutService)
        return;

    const std::string run = FFolder.File("run");
    std::filesystem::create_directories(run);
    chmod(run.c_str(), 0700);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), QString::fromStdString(FFolder.File("home")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), QString::fromStdString(FFolder.File("data")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(FFolder.File("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(run));
    env.remove(QStringLiteral("DISPLAY"));
    FKeyring.setProcessEnvironment(env);
    FKeyring.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    EndWithTest(FKeyring);
    FKeyring.setStandardOutputFile(QProcess::nullDevice());
    QStringList arguments{QStringLiteral("--foreground"), QStringLiteral("--components=secrets"),
                          QString::fromStdString("--control-directory=" + run + "/keyring")};
    const bool unlock = setup == TSetup::Unlocked;
    if (unlock)
        arguments << QStringLiteral("--unlock");
    FKeyring.start(QStringLiteral("gnome-keyring-daemon"), arguments);
    if (!FKeyring.waitForStarted(5000))
        throw std::runtime_error("gnome-keyring-daemon did not start");
    // It reads the password up to the end of its input.
    if (unlock)
    {
        FKeyring.write(TestPassword);
        FKeyring.waitForBytesWritten(5000);
    }
    FKeyring.closeWriteChannel();
    for (int i = 0; i < 100; ++i)
    {
        if (Tool({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                  "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.secrets"})
                .find("boolean true") != std::string::npos)
            return;
        QThread::msleep(50);
    }
    throw std::runtime_error("gnome-keyring-daemon did not come onto the bus");
}

PrivateKeyring::~PrivateKeyring()
{
    StopProcess(FKeyring);
    StopProcess(FBus);
}

std::string PrivateKeyring::Tool(const std::vector<std::string>& arguments, const std::string& input)
{
    QProcess tool;
    tool.start(QString::fromStdString(arguments.front()),
               ListOf(std::vector<std::string>(arguments.begin() + 1, arguments.end())));
    tool.write(input.data(), static_cast<qint64>(input.size()));
    tool.closeWriteChannel();
    if (!tool.waitForFinished(10000))
    {
        StopProcess(tool);
        throw std::runtime_error(arguments.front() + " did not finish");
    }
    return tool.readAllStandardOutput().toStdString();
}

void PrivateKeyring::Store(const std::vector<std::string>& attributes, const std::string& secret,
                           const std::string& label)
{
    std::vector<std::string> arguments{"secret-tool", "store", "--label=" + label};
    arguments.insert(arguments.end(), attributes.begin(), attributes.end());
    Tool(arguments, secret);
}

std::string PrivateKeyring::Lookup(const std::vector<std::string>& attributes)
{
    std::vector<std::string> arguments{"secret-tool", "lookup"};
    arguments.insert(arguments.end(), attributes.begin(), attributes.end());
    return Tool(arguments);
}

std::vector<std::string> PrivateKeyring::Labels(const std::vector<std::string>& attributes)
{
    std::vector<std::string> arguments{"secret-tool", "search", "--all"};
    arguments.insert(arguments.end(), attributes.begin(), attributes.end());
    std::istringstream lines(Tool(arguments));
    std::vector<std::string> labels;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("label = ", 0) == 0)
            labels.push_back(line.substr(8));
    return labels;
}

void PrivateKeyring::Lock()
{
    Tool({"dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.secrets", "/org/freedesktop/secrets",
          "org.freedesktop.Secret.Service.Lock", "array:objpath:/org/freedesktop/secrets/collection/login"});
}
