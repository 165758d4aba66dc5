#pragma once

#include <QObject>

#include <functional>

class TfrmAboutBox;
class TfrmNewMail;
class TfrmSettings;

// The application shell's handlers: the tray menu, the tray double clicks,
// pausing and resuming, exit and the closing of the settings window, and the
// frame of the check timer's tick.
class TTrayShell : public QObject
{
    Q_OBJECT
public:
    TTrayShell(TfrmSettings& settings, TfrmNewMail& newMail, TfrmAboutBox& aboutBox,
               QObject* parent = nullptr);

    // The check of all enabled accounts, run by every tick after the
    // configuration is loaded.
    std::function<void()> CheckAccounts;
    // Tells the application to terminate (the event loop ends).
    std::function<void()> Terminate;

    void timMailTimer();
    void mnuAboutClick();
    void mnuMailboxClick();
    void mnuCheckNowClick();
    void actEnabledExecute();
    void actEnabledUpdate();
    void mnuSettingsClick();
    void mnuExitClick();
    bool FormCloseQuery();
    void FormClose();
    void triMailDblClick();
    void triNewMsgDblClick();

private:
    TfrmSettings& FSettings;
    TfrmNewMail& FNewMail;
    TfrmAboutBox& FAboutBox;
};
