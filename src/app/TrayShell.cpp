#include "app/TrayShell.h"

#include "app/AboutBox.h"
#include "config/ConfigStore.h"
#include "config/ProcessFlags.h"
#include "config/SettingsForm.h"
#include "config/UpDown.h"
#include "i18n/Translate.h"
#include "notify/NewMailForm.h"
#include "platform/Dialogs.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QTimer>

namespace
{

// Switches the check timer on again however the tick ends.
class TTimerRestart
{
public:
    explicit TTimerRestart(QTimer& timer) : timer_(timer) {}
    ~TTimerRestart() { timer_.start(); }
    TTimerRestart(const TTimerRestart&) = delete;
    TTimerRestart& operator=(const TTimerRestart&) = delete;

private:
    QTimer& timer_;
};

} // namespace

TTrayShell::TTrayShell(TfrmSettings& settings, TfrmNewMail& newMail, TfrmAboutBox& aboutBox,
                       QObject* parent)
    : QObject(parent), settings_(settings), newMail_(newMail), aboutBox_(aboutBox)
{
    Terminate = [] { QCoreApplication::exit(0); };

    connect(settings_.timMail, &QTimer::timeout, this, [this] { timMailTimer(); });
    connect(settings_.mnuAbout, &QAction::triggered, this, [this] { mnuAboutClick(); });
    connect(settings_.mnuMailbox, &QAction::triggered, this, [this] { mnuMailboxClick(); });
    connect(settings_.mnuChecknow, &QAction::triggered, this, [this] { mnuCheckNowClick(); });
    connect(settings_.actEnabled, &QAction::triggered, this, [this] {
        // The menu has already flipped the tick; the handler must see the tick
        // as it stood before the click. The idle update sets it afterwards.
        settings_.actEnabled->setChecked(!settings_.actEnabled->isChecked());
        actEnabledExecute();
    });
    connect(settings_.mnuSettings, &QAction::triggered, this, [this] { mnuSettingsClick(); });
    connect(settings_.mnuExit, &QAction::triggered, this, [this] { mnuExitClick(); });
    connect(settings_.triMail, &TTrayIcon::DblClick, this, [this] { triMailDblClick(); });
    connect(settings_.triNewMsg, &TTrayIcon::DblClick, this, [this] { triNewMsgDblClick(); });
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                [this] { actEnabledUpdate(); });

    settings_.OnCloseQuery = [this] { return FormCloseQuery(); };
    settings_.OnClose = [this] { FormClose(); };
}

void TTrayShell::timMailTimer()
{
    settings_.timMail->stop();
    TTimerRestart restart(*settings_.timMail);
    if (LoadPending)
    {
        LoadPending = false;
        try
        {
            LoadFromRegistry(settings_, newMail_);
        }
        catch (...)
        {
            // A load that stops early has not set the interval yet; left at
            // the start-up second, the timer would check every second.
            settings_.timMail->setInterval(settings_.spnInterval->Position() * 1000);
            throw;
        }
    }
    if (CheckAccounts)
        CheckAccounts();
}

void TTrayShell::mnuAboutClick()
{
    aboutBox_.exec();
}

void TTrayShell::mnuMailboxClick()
{
    newMail_.actMailbox->trigger();
}

void TTrayShell::mnuCheckNowClick()
{
    ClearListPending = true;
    timMailTimer();
}

void TTrayShell::actEnabledExecute()
{
    const bool wasTicked = settings_.actEnabled->isChecked();
    if (settings_.timMail->isActive())
        settings_.timMail->stop();
    else
        settings_.timMail->start();
    if (wasTicked)
        settings_.triMail->SetPictureIndex(1);
    else
        timMailTimer();
}

void TTrayShell::actEnabledUpdate()
{
    settings_.actEnabled->setChecked(settings_.timMail->isActive());
}

void TTrayShell::mnuSettingsClick()
{
    settings_.timMail->stop();
    settings_.show();
    settings_.raise();
    settings_.activateWindow();
}

void TTrayShell::mnuExitClick()
{
    TMessageRequest request;
    request.caption = ResStr("Confirm");
    request.text = ResStr("Are you sure you want to exit?") + "\n" +
                   ResStr("Warning: if you select yes, you will not able to see new messages!");
    request.type = TMsgDlgType::mtConfirmation;
    request.buttons = mbYes | mbNo;
    if (MessageDlg(&settings_, request) != TModalResult::mrYes)
        return;
    WriteToRegistry(settings_, newMail_);
    ExitConfirmed = true;
    settings_.close();
}

bool TTrayShell::FormCloseQuery()
{
    if (!ExitConfirmed)
    {
        settings_.timMail->stop();
        Terminate();
    }
    return true;
}

void TTrayShell::FormClose()
{
    WriteToRegistry(settings_, newMail_);
    settings_.timMail->stop();
    Terminate();
}

void TTrayShell::triMailDblClick()
{
    switch (settings_.cboDoubleClick->currentIndex())
    {
    case 0:
        mnuMailboxClick();
        break;
    case 1:
        if (newMail_.isHidden())
            newMail_.show();
        break;
    case 2:
        mnuSettingsClick();
        break;
    default:
        break;
    }
}

void TTrayShell::triNewMsgDblClick()
{
    mnuMailboxClick();
}
