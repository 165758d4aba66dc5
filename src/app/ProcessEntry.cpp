#include "app/ProcessEntry.h"

#include "app/AboutBox.h"
#include "app/MailStatus.h"
#include "app/StatusChannel.h"
#include "app/SignInNotices.h"
#include "app/SingleInstance.h"
#include "app/MailCheck.h"
#include "app/NewMailEnvironment.h"
#include "app/PushSessions.h"
#include "app/QuietControl.h"
#include "app/DesktopOutput.h"
#include "app/StatusClient.h"
#include "app/TrayParts.h"
#include "app/TrayShell.h"
#include "check/CheckClients.h"
#include "check/JmapMemory.h"
#include "check/ExpandCommand.h"
#include "check/RoundScheduler.h"
#include "check/Imap4PushClient.h"
#include "config/AccountSecrets.h"
#include "config/ConfigKeeper.h"
#include "config/ConfigStore.h"
#include "config/ProcessFlags.h"
#include "config/SettingsForm.h"
#include "i18n/Catalogs.h"
#include "i18n/Translate.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"
#include "notify/DeleteRun.h"
#include "notify/NewMailForm.h"
#include "oauth/TokenKeeper.h"
#include "desktop/Application.h"
#include "desktop/Artwork.h"
#include "desktop/DesktopNotifier.h"
#include "desktop/DoNotDisturb.h"
#include "desktop/LauncherEntry.h"
#include "desktop/Dialogs.h"
#include "desktop/TrayIcon.h"
#include "desktop/WakeWatch.h"
#include "platform/CodePage.h"
#include "platform/TermSignal.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace
{

// The settings window shows what was loaded, so a request that comes before
// the first tick waits for it; OK there would otherwise store the start-up
// defaults over the saved configuration.
void ShowSettingsWhenLoaded(TTrayShell& shell)
{
    if (LoadPending)
        QTimer::singleShot(200, &shell, [&shell] { ShowSettingsWhenLoaded(shell); });
    else
        shell.mnuSettingsClick();
}

// Something said once: a desktop notification kept until read, or a box
// where no server takes it.
void TellOnce(TDesktopNotifier& notifier, const std::string& text, TMsgDlgType type)
{
    const auto box = [text, type] { MessageDlg(nullptr, TMessageRequest{{}, text, type, mbOK}); };
    if (!notifier.Show({QApplication::applicationName(), FromCodePage(text), {}, 0}, box))
        box();
}

} // namespace

void PrepareStartup()
{
    SetDefaultDomain("ternbell");
    RemoveMessageDomain("default");
    AddMessageDomain("ternbell");
    AddMessageDomain(ToolkitMessageDomain);
    ClearListPending = false;
    ComputeStartupDefaults();
}

int RunTernbell(int argc, char** argv)
{
    TApplication app(argc, argv);
    // No main window: the program lives in the tray until it is told to end.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("ternbell"));
    QApplication::setWindowIcon(ApplicationIcon());
    ReportHiveProblemsInErrorBox();
    SetLocalizationProblemReporter(ShowWarningBox);
    InstallToolkitTranslator();

    TSingleInstance instance(TSingleInstance::DefaultSocketPath());
    if (!instance.Claim())
    {
        std::puts(instance.Acknowledged ? "ternbell is already running; its settings window is shown."
                                        : "ternbell is already running; it was asked to show its settings window.");
        return 0;
    }

    PrepareStartup();

    // The tray icon first: it is all a user sees of a start. The settings
    // window's controls wait until it is first opened.
    TTrayParts tray;
    // Passwords in the desktop keyring where there is one; its client is
    // started only while a password is kept or read.
    TSecretStore secretStore;
    TAccountSecrets secrets(secretStore);
    // OAuth2 accounts' refresh tokens beside the passwords, and their access
    // tokens in memory. Made before the settings window, so it outlives the
    // sign-in work that window may still be waiting for when it closes, and
    // every session below.
    TAccountTokens accountTokens(secretStore);
    TfrmSettings frmSettings(nullptr, TfrmSettings::TBuild::WhenShown);
    TfrmNewMail frmNewMail;
    TfrmAboutBox frmAboutBox;
    frmSettings.frmNewMail = &frmNewMail;
    TConfigKeeper config(frmSettings, frmNewMail);
    config.UseSecrets(secrets);
    frmSettings.SetAccessTokens(&accountTokens.Tokens);
    TTrayShell shell(tray, config, frmSettings, frmNewMail, frmAboutBox);
    instance.OnShowSettings = [&shell] { ShowSettingsWhenLoaded(shell); };
    // Without a tray the application menu entry is the way back to the
    // settings: a second start opens them here.
    shell.TrayAvailable = [] { return DesktopTrayAvailable(); };
    // A notifier of its own, so the news of new mail does not replace it;
    // a box where no server takes it.
    TDesktopNotifier hintNotifier;
    shell.ShowNoTrayHint = [&hintNotifier](const std::string& text) {
        TellOnce(hintNotifier, text, TMsgDlgType::mtInformation);
        return true;
    };
    TTermSignalWatcher termination([&shell] { shell.EndProgram(); });

    // What every session that logs in is given (check, push, Delete, Mark
    // as read): the limits, and where OAuth2 accounts get their tokens. The
    // factories below take copies, so it is complete before them.
    TSessionLimits sessionLimits;
    sessionLimits.Tokens = std::shared_ptr<IAccessTokens>(std::shared_ptr<void>(), &accountTokens.Tokens);
    // JMAP accounts' states, so that a repeat check asks only what changed.
    sessionLimits.Jmap = std::make_shared<TJmapMemory>();
    // New mail of IMAP4 accounts pushed through IDLE, where servers offer it.
    TPushSessions push([sessionLimits](const Account& account, std::shared_ptr<TIdLineAbort> abort) {
        return MakePushClient(account, sessionLimits, std::move(abort));
    });
    shell.EndPush = [&push] { push.CloseAll(); };
    // New mail told by the desktop's notification server where one runs.
    TDesktopNotifier notifier;
    // Of its own too: it says why a restart would tell everything again.
    TDesktopNotifier memoryNotifier;
    // Each session gets a client of its own on its worker thread.
    TMailCheck mailCheck(tray, frmNewMail, config.Config,
                         [sessionLimits](TMailProtocol protocol, std::shared_ptr<TIdLineAbort> abort) {
                             return MakeCheckClient(protocol, sessionLimits, std::move(abort));
                         });
    mailCheck.UseSecrets(&secrets);
    mailCheck.UseNotifier(&notifier);
    mailCheck.OnMemoryNotKept = [&memoryNotifier](const std::string& text) {
        TellOnce(memoryNotifier, text, TMsgDlgType::mtWarning);
    };
    mailCheck.OnNoticeRead = [&shell] { shell.mnuMailboxClick(); };
    mailCheck.OnNoticeShow = [&shell] { shell.ShowNewMail(); };
    // Delete's and Mark as read's runs get clients of their own, so neither
    // they nor the check meet a session or a line the other left behind.
    const TDeleteFactory makeDelete = [sessionLimits](TMailProtocol protocol, std::shared_ptr<TIdLineAbort> abort) {
        return MakeDeleteClient(protocol, sessionLimits, std::move(abort));
    };
    // An account that must be signed in again is told once, with an action
    // that opens its settings.
    TDesktopNotifier signInNotifier;
    TSignInNotices signInNotices(signInNotifier);
    signInNotices.OpenSettings = [&shell](int index) { shell.ShowSettingsOn(index); };
    mailCheck.OnSignIn = [&signInNotices](int index, const Account& account, bool needed) {
        signInNotices.Update(index, account, needed);
    };
    mailCheck.MarkRead = [&mailCheck, &config, &secrets, makeDelete](const std::vector<TToldMessage>& told) {
        MarkReadBeside(mailCheck, makeDelete, PlanOfTold(AccountsWithKnownPasswords(config.Config, &secrets), told));
    };
    mailCheck.UsePush(&push, [&shell] { return shell.PushAllowed(); });
    shell.ResumePush = [&mailCheck] { mailCheck.ResumePush(); };
    // The lines of pushed accounts are likely dead after a sleep or a
    // network change.
    shell.ReopenPush = [&push] { push.Reopen(); };
    shell.UseScheduler(mailCheck.Scheduler());
    shell.CheckAccounts = [&mailCheck] { return mailCheck.CheckAccounts(); };
    shell.CheckEveryAccount = [&mailCheck] { return mailCheck.CheckEvery(); };
    shell.AbortChecks = [&mailCheck] { mailCheck.Abort(); };
    mailCheck.OnIdle = [&shell] { shell.ChecksEnded(); };
    TNewMailController newMailController(
        frmNewMail, NewMailEnvironment(config.Config, tray, [&shell] { shell.mnuCheckNowClick(); }, mailCheck,
                                       makeDelete, &secrets));
    // "Read" of a notification opens its first message where the mail
    // client's command can name one.
    mailCheck.OnNoticeOpen = [&newMailController](const TToldMessage& message) {
        newMailController.OpenMessage(RowValuesOfTold(message));
    };

    // The count on a launcher and the status of `ternbell --status`, which
    // readers ask for through the one-instance channel.
    TStatusChannel statusChannel;
    TLauncherEntry launcher;
    TMailStatus mailStatus(launcher, statusChannel);
    mailCheck.OnMailState = [&mailStatus](const TMailState& state) { mailStatus.SetMail(state); };

    // Quiet hours, the snooze and the desktop's do-not-disturb: new mail is
    // listed, and told once as a summary when the quiet ends.
    TQuietControl quiet;
    quiet.StoreUntil = [&config](const std::string& until) {
        StoreQuietUntil(until);
        config.Config.QuietUntil = until;
    };
    quiet.OnChanged = [&quiet, &mailCheck, &mailStatus](bool on) {
        mailCheck.Output().SetQuietNote(quiet.HintText());
        mailCheck.Cycle().SetQuiet(on, quiet.OnlyDesktop());
        mailStatus.SetQuiet(on);
    };
    config.OnLoaded = [&shell, &quiet](const TConfig& loaded) {
        shell.ConfigLoaded(loaded);
        quiet.ConfigLoaded(loaded);
    };
    QObject::connect(tray.mnuQuiet30, &QAction::triggered, &quiet, [&quiet] { quiet.QuietFor(30); });
    QObject::connect(tray.mnuQuiet60, &QAction::triggered, &quiet, [&quiet] { quiet.QuietFor(60); });
    QObject::connect(tray.mnuQuietTomorrow, &QAction::triggered, &quiet, [&quiet] { quiet.QuietUntilTomorrow(); });
    QObject::connect(tray.mnuResume, &QAction::triggered, &quiet, [&quiet] { quiet.Resume(); });
    // The desktop's own do-not-disturb, followed as it changes.
    TDoNotDisturb doNotDisturb(QDBusConnection::sessionBus());
    QObject::connect(&doNotDisturb, &TDoNotDisturb::Changed, &quiet, [&quiet](bool on) { quiet.SetDesktopQuiet(on); });
    quiet.SetDesktopQuiet(doNotDisturb.IsOn());
    // `ternbell --quiet MINUTES` and `--resume` change it first, then are
    // answered with the status.
    instance.OnRequest = [&statusChannel, &quiet](const QByteArray& request, TDescriptor& connection) {
        const std::string line = request.toStdString();
        if (const std::optional<int> minutes = QuietMinutesOf(line))
            quiet.QuietFor(*minutes);
        else if (line == ResumeRequest)
            quiet.Resume();
        else
            return statusChannel.Take(request, connection);
        return statusChannel.Take(TStatusChannel::StatusRequest, connection);
    };
    // The pause and the launcher's setting change by the user's hand, in an
    // event: looked at when the loop has worked, never at rest.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &shell, [&] {
            mailStatus.SetPaused(mailCheck.Scheduler().Paused());
            mailStatus.SetBadgeFor(config.Config.BadgeFor);
        });

    // Rounds follow the desktop's sleep and network, where it tells of them.
    TWakeWatch wake;
    shell.Follow(wake);

    tray.timMail->start();

    const int code = app.exec();
    // Saved already; a worker still in a host lookup, which nothing can
    // stop, must not hold the end up.
    mailCheck.Abort();
    if (!mailCheck.Join(1500))
    {
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}
