#pragma once

#include "config/ProcessFlags.h"
#include "desktop/DecoderModule.h"
#include "desktop/Dialogs.h"

#include <QApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

// The benchmarks that drive the program's windows run on a desktop of their
// own: offscreen unless told otherwise, with a hive and state of their own,
// so the user's settings are neither read nor written. Before the
// application object; the folder lives as long as the result. Null when it
// cannot be made.
inline std::unique_ptr<QTemporaryDir> UsePrivateHome()
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    auto home = std::make_unique<QTemporaryDir>();
    if (!home->isValid())
        return nullptr;
    setenv("XDG_CONFIG_HOME", home->path().toLocal8Bit().constData(), 1);
    setenv("XDG_STATE_HOME", (home->path() + "/state").toLocal8Bit().constData(), 1);
    return home;
}

// After the application object: the program's name and helpers, and nobody
// to answer a message box.
inline void QuietDesktop()
{
    QApplication::setApplicationName(QStringLiteral("ternbell"));
    SetDecoderModuleFolder(TERNBELL_RUNTIME_DIR);
    SetMessageAnswerer([](const TMessageRequest& request) {
        std::fprintf(stderr, "message box: %s\n", request.Text.c_str());
        return TModalResult::mrCancel;
    });
    ClearListPending = false;
}

// The main of a benchmark that counts `what` (deliveries, reads) on a
// private desktop: the count from the first argument (default 20), then
// `run(count)`; an exception ends it with its text.
template <typename TRun>
int RunOnPrivateDesktop(int argc, char** argv, const char* name, const char* what, TRun run)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 20;
    if (count < 1)
    {
        std::fprintf(stderr, "usage: %s [%s, at least 1]\n", name, what);
        return 2;
    }
    const std::unique_ptr<QTemporaryDir> home = UsePrivateHome();
    if (!home)
        return 1;
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QuietDesktop();
    try
    {
        return run(count);
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
        return 1;
    }
}
