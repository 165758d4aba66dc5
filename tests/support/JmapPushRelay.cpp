#include "support/JmapPushRelay.h"

#include "support/TestHelpers.h"

#include <stdexcept>

JmapPushRelay::JmapPushRelay(std::uint16_t serverPort)
{
    FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    FProcess.start("python3", {QStringLiteral(TERNBELL_SOURCE_DIR "/tests/support/jmap_push_relay.py"),
                               QString::number(serverPort)});
    EndWithTest(FProcess);
    if (!FProcess.waitForReadyRead(10000))
        throw std::runtime_error("the JMAP push relay did not start");
    const QByteArray line = FProcess.readLine().trimmed();
    if (!line.startsWith("port "))
        throw std::runtime_error("the JMAP push relay said " + line.toStdString());
    FPort = static_cast<std::uint16_t>(line.mid(5).toUInt());
}

JmapPushRelay::~JmapPushRelay()
{
    FProcess.closeWriteChannel();
    if (!FProcess.waitForFinished(3000))
        StopProcess(FProcess);
}

std::string JmapPushRelay::SessionUrl() const
{
    return "http://127.0.0.1:" + std::to_string(FPort) + "/.well-known/jmap";
}
