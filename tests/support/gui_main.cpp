#include "desktop/DecoderModule.h"
#include "platform/SecretStore.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

// Every test binary gets an application object, so widgets and timers work;
// without a display the offscreen platform stands in.
int main(int argc, char** argv)
{
    // Never the machine's logind or network manager: a test that wants a
    // system bus starts its own.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/ternbell-test-system-bus", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ternbell"));
    // The test programs live apart from the executable and its helpers.
    SetDecoderModuleFolder(TERNBELL_RUNTIME_DIR);
    TSecretStore::SetHelperFolder(TERNBELL_RUNTIME_DIR);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
