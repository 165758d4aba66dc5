#include "desktop/Application.h"

#include "desktop/Dialogs.h"
#include "platform/Exception.h"

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
    MessageDlg(nullptr, TMessageRequest{"ternbell", message, TMsgDlgType::mtError, mbOK});
}
