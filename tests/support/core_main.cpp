#include "platform/SecretStore.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <cstdlib>

// Tests of the libraries without windows: an application object for timers
// and the event-loop wait, nothing of the desktop.
int main(int argc, char** argv)
{
    // Never the machine's logind or network manager: a test that wants a
    // system bus starts its own.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/ternbell-test-system-bus", 1);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ternbell"));
    // The test programs live apart from the executable and its helpers.
    TSecretStore::SetHelperFolder(TERNBELL_RUNTIME_DIR);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
