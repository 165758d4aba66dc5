#include "desktop/Application.h"

#include "desktop/Dialogs.h"
#include "platform/Exception.h"

#include <cstdio>
#include <exception>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try
    {
        return QApplication::notify(receiver, event);
    }
    catch (const Exception& e)
    {
        ShowException(e.Message);
    }
    catch (const std::exception& e)
    {
        ShowException(e.what());
    }
    // The event counts as handled: its handler ran and failed.
    return true;
}

void TApplication::ShowException(const std::string& message)
{
    // The box runs its own event loop, where a failure that repeats (the
    // check timer's) would open box upon box. One at a time; the others go
    // to the standard error.
    static bool open = false;
    if (open)
    {
        std::fprintf(stderr, "ternbell: %s\n", message.c_str());
        return;
    }
    open = true;
    struct TClosed
    {
        ~TClosed() { open = false; }
    } closed;
    MessageDlg(nullptr, TMessageRequest{"ternbell", message, TMsgDlgType::mtError, mbOK});
}
