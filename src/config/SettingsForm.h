#pragma once

#include "desktop/TrayIcon.h"

#include <QIcon>
#include <QList>
#include <QWidget>

#include <functional>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTimer;
class QTreeWidget;
class TMediaPlayer;
class TUpDown;
class TfrmNewMail;

// The settings window: the application's main window, hidden except while the
// user edits the settings. Its controls are the live configuration; it also
// owns the tray icons, the tray menu, the timers and the media player.
class TfrmSettings : public QWidget
{
    Q_OBJECT
public:
    explicit TfrmSettings(QWidget* parent = nullptr);
    ~TfrmSettings() override;

    // The notification window, created after this one; the configuration
    // load and save reach it through here.
    TfrmNewMail* frmNewMail = nullptr;

    // Set by the application shell: the close query (true allows the close)
    // and the close itself.
    std::function<bool()> OnCloseQuery;
    std::function<void()> OnClose;

    // "&Default": the stored settings back to their defaults, loaded again.
    void btnDefaultClick();

    // Keeps the maxima of the LED and auto-hide spinners at the interval.
    void txtIntervalChange();

    QTabWidget* pagSettings;
    QWidget* tabGeneral;
    QWidget* tabNotification;
    QWidget* tabNotifyFormOpt;
    QWidget* tabAccount;
    QPushButton* btnDefault;
    QPushButton* btnOk;
    QPushButton* btnCancel;

    // General
    QLabel* lblGeneral;
    QLabel* lblApplication;
    QLineEdit* txtApplication;
    QPushButton* txtApplicationButton;
    QLabel* lblInterval;
    QLineEdit* txtInterval;
    TUpDown* spnInterval;
    QLabel* lblDoubleClick;
    QComboBox* cboDoubleClick;
    QLabel* lblPriority;
    QComboBox* cboPriority;
    QCheckBox* chkNotifyNewMsg;
    TMediaPlayer* mediaPlayer;

    // Notification Behaviors
    QLabel* lblNotification;
    QCheckBox* chkShowForm;
    QCheckBox* chkSound;
    QLineEdit* txtSound;
    QPushButton* txtSoundBtn;
    QCheckBox* chkSilentMode;
    QLineEdit* txtLedActiveTime;
    TUpDown* spnLedActiveTime;
    QCheckBox* chkShowIcon;
    QLineEdit* txtShowIcon;
    QPushButton* txtShowIconBtn;
    QCheckBox* chkExecute;
    QLineEdit* txtExecute;

    // Form Options
    QLabel* lblNotifyFormOpt;
    QCheckBox* chkAutoHide;
    QLineEdit* txtAutoHide;
    TUpDown* spnAutoHide;
    QCheckBox* chkAnimation;
    QLineEdit* txtAnimation;
    QPushButton* txtAnimationBtn;
    QCheckBox* chkStayOnTop;
    QCheckBox* chkSaveDetails;

    // Account
    QGroupBox* grpAccounts;
    QPushButton* btnAdd;
    QPushButton* btnRemove;
    QPushButton* btnRename;
    QTreeWidget* lvwAccounts;
    QGroupBox* grpAccountPop3;
    QRadioButton* rdbPop3;
    QRadioButton* rdbImap4;
    QLabel* lblUserName;
    QLineEdit* txtUserName;
    QLabel* lblPassword;
    QLineEdit* txtPassword;
    QLabel* lblServer;
    QLineEdit* txtHost;
    QLabel* lblPort;
    QLineEdit* txtPort;

    // Tray, menu, timers
    QList<QIcon> imlState;
    TTrayIcon* triMail;
    TTrayIcon* triNewMsg;
    QMenu* popMain;
    QAction* mnuAbout;
    QAction* mnuMailbox;
    QAction* mnuChecknow;
    QAction* actEnabled;
    QAction* mnuEnabled1; // the menu's view of actEnabled
    QAction* mnuSettings;
    QAction* mnuExit;
    QTimer* timMail;
    QTimer* timBlinking;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateGeneralPage();
    void CreateNotificationPage();
    void CreateFormOptionsPage();
    void CreateAccountPage();
    void CreateTray();
    void FormCreate();
};
