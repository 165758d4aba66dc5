#include "app/TrayShell.h"

#include "app/AboutBox.h"
#include "config/ConfigStore.h"
#include "config/ProcessFlags.h"
#include "config/SettingsForm.h"
#include "desktop/UpDownControl.h"
#include "i18n/Translate.h"
#include "notify/NewMailForm.h"
#include "desktop/Dialogs.h"

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
    explicit TTimerRestart(QTimer& timer) : FTimer(timer) {}
    ~TTimerRestart() { FTimer.start(); }
    TTimerRestart(const TTimerRestart&) = delete;
    TTimerRestart& operator=(const TTimerRestart&) = delete;

private:
    QTimer& FTimer;
};

} // namespace

TTrayShell::TTrayShell(TfrmSettings& settings, TfrmNewMail& newMail, TfrmAboutBox& aboutBox,
                       QObject* parent)
    : QObject(parent), FSettings(settings), FNewMail(newMail), FAboutBox(aboutBox)
{
    Terminate = [] { QCoreApplication::exit(0); };

    connect(FSettings.timMail, &QTimer::timeout, this, [this] { timMailTimer(); });
    connect(FSettings.mnuAbout, &QAction::triggered, this, [this] { mnuAboutClick(); });
    connect(FSettings.mnuMailbox, &QAction::triggered, this, [this] { mnuMailboxClick(); });
    connect(FSettings.mnuChecknow, &QAction::triggered, this, [this] { mnuCheckNowClick(); });
    connect(FSettings.actEnabled, &QAction::triggered, this, [this] {
        // The menu has already flipped the tick; the handler must see the tick
        // as it stood before the click. The idle update sets it afterwards.
        FSettings.actEnabled->setChecked(!FSettings.actEnabled->isChecked());
        actEnabledExecute();
    });
    connect(FSettings.mnuSettings, &QAction::triggered, this, [this] { mnuSettingsClick(); });
    connect(FSettings.mnuExit, &QAction::triggered, this, [this] { mnuExitClick(); });
    connect(FSettings.triMail, &TTrayIcon::DblClick, this, [this] { triMailDblClick(); });
    connect(FSettings.triNewMsg, &TTrayIcon::DblClick, this, [this] { triNewMsgDblClick(); });
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                [this] { actEnabledUpdate(); });

    FSettings.OnCloseQuery = [this] { return FormCloseQuery(); };
    FSettings.OnClose = [this] { FormClose(); };
}

void TTrayShell::timMailTimer()
{
    FSettings.timMail->stop();
    TTimerRestart restart(*FSettings.timMail);
    if (LoadPending)
    {
        LoadPending = false;
        try
        {
            LoadFromRegistry(FSettings, FNewMail);
        }
        catch (...)
        {
            // A load that stops early has not set the interval yet; left at
            // the start-up second, the timer would check every second.
            FSettings.timMail->setInterval(FSettings.spnInterval->Position() * 1000);
            throw;
        }
    }
    if (CheckAccounts)
        CheckAccounts();
}

void TTrayShell::mnuAboutClick()
{
    FAboutBox.exec();
}

void TTrayShell::mnuMailboxClick()
{
    FNewMail.actMailbox->trigger();
}

void TTrayShell::mnuCheckNowClick()
{
    ClearListPending = true;
    timMailTimer();
}

void TTrayShell::actEnabledExecute()
{
    const bool wasTicked = FSettings.actEnabled->isChecked();
    if (FSettings.timMail->isActive())
        FSettings.timMail->stop();
    else
        FSettings.timMail->start();
    if (wasTicked)
        FSettings.triMail->SetPictureIndex(1);
    else
        timMailTimer();
}

void TTrayShell::actEnabledUpdate()
{
    FSettings.actEnabled->setChecked(FSettings.timMail->isActive());
}

void TTrayShell::mnuSettingsClick()
{
    FSettings.timMail->stop();
    FSettings.show();
    FSettings.raise();
    FSettings.activateWindow();
}

void TTrayShell::mnuExitClick()
{
    TMessageRequest request;
    request.Caption = ResStr("Confirm");
    request.Text = ResStr("Are you sure you want to exit?") + "\n" +
                   ResStr("Warning: if you select yes, you will not able to see new messages!");
    request.Type = TMsgDlgType::mtConfirmation;
    request.Buttons = mbYes | mbNo;
    if (MessageDlg(&FSettings, request) != TModalResult::mrYes)
        return;
    if (SettingsLoaded)
        WriteToRegistry(FSettings, FNewMail);
    ExitConfirmed = true;
    FSettings.close();
}

bool TTrayShell::FormCloseQuery()
{
    if (!ExitConfirmed)
    {
        FSettings.timMail->stop();
        Terminate();
    }
    return true;
}

void TTrayShell::FormClose()
{
    if (SettingsLoaded)
        WriteToRegistry(FSettings, FNewMail);
    FSettings.timMail->stop();
    Terminate();
}

void TTrayShell::triMailDblClick()
{
    switch (FSettings.cboDoubleClick->currentIndex())
    {
    case 0:
        mnuMailboxClick();
        break;
    case 1:
        if (FNewMail.isHidden())
            FNewMail.show();
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
