#include "config/SignInPanel.h"

#include "check/CheckRules.h"
#include "desktop/FormParts.h"
#include "i18n/Translate.h"
#include "oauth/OAuthErrors.h"
#include "oauth/SignIn.h"
#include "oauth/TokenKeeper.h"
#include "platform/CodePage.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <mutex>
#include <thread>

// One sign-in on its thread. The thread holds it, so a panel that goes
// first leaves it nothing to reach but this.
struct TSignInPanel::TRun
{
    std::mutex Mutex;
    bool Cancelled = false;
    std::unique_ptr<TSignIn> SignIn;
};

namespace
{

const std::string MicrosoftStart = "https://login.microsoftonline.com/";
const std::string MicrosoftEnd = "/v2.0";

QString Shown(const std::string& desktopText)
{
    return FromCodePage(desktopText);
}

// Runs `work` on the panel's thread, unless the panel is gone by then.
template <typename F> void OnPanel(const QPointer<TSignInPanel>& panel, F work)
{
    if (panel)
        QMetaObject::invokeMethod(panel.data(), std::move(work), Qt::QueuedConnection);
}

} // namespace

TSignInPanel::TProviderChoice TSignInPanel::ChoiceOf(const Account& account, std::string* issuerField)
{
    std::string issuer = account.OAuth2Issuer;
    while (!issuer.empty() && issuer.back() == '/')
        issuer.pop_back();
    issuerField->clear();
    if (account.Authentication == aaBearer && account.JMAP)
        return pcApiToken;
    if (account.Authentication != aaOAuth2)
        return pcPassword;
    if (issuer == GoogleIssuer)
        return pcGoogle;
    if (issuer.size() > MicrosoftStart.size() + MicrosoftEnd.size() &&
        issuer.compare(0, MicrosoftStart.size(), MicrosoftStart) == 0 &&
        issuer.compare(issuer.size() - MicrosoftEnd.size(), MicrosoftEnd.size(), MicrosoftEnd) == 0)
    {
        *issuerField = issuer.substr(MicrosoftStart.size(), issuer.size() - MicrosoftStart.size() - MicrosoftEnd.size());
        return pcMicrosoft;
    }
    *issuerField = account.OAuth2Issuer;
    return pcOther;
}

void TSignInPanel::ApplyChoice(Account& account, TProviderChoice choice, const std::string& issuerField,
                               const std::string& clientId)
{
    account.Authentication = choice == pcPassword ? aaPassword : choice == pcApiToken ? aaBearer : aaOAuth2;
    if (choice == pcGoogle)
        account.OAuth2Issuer = GoogleIssuer;
    else if (choice == pcMicrosoft)
        account.OAuth2Issuer = MicrosoftIssuer(issuerField.empty() ? "common" : issuerField);
    else if (choice == pcOther)
        account.OAuth2Issuer = issuerField;
    if (choice != pcPassword && choice != pcApiToken)
        account.OAuth2ClientId = clientId;
}

TSignInPanel::TSignInPanel(QWidget* parent) : QWidget(parent)
{
    // A desktop without the toolkit's services plug-in (or a headless one)
    // still has the freedesktop opener.
    OpenUrl = [](const QUrl& url) {
        return QDesktopServices::openUrl(url) ||
               QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString(QUrl::FullyEncoded)});
    };
    lblAuthentication = Captioned<QLabel>(this, "lblAuthentication", "Log in with:");
    cboAuthentication = Named(new QComboBox(this), "cboAuthentication");
    cboAuthentication->addItems({ResText("Password"), QStringLiteral("Google"), QStringLiteral("Microsoft"),
                                 ResText("Another provider")});
    lblIssuer = Captioned<QLabel>(this, "lblIssuer", "Issuer:");
    txtIssuer = Named(new QLineEdit(this), "txtIssuer");
    lblClientId = Captioned<QLabel>(this, "lblClientId", "Client id:");
    txtClientId = Named(new QLineEdit(this), "txtClientId");
    txtClientId->setPlaceholderText(ResText("The build's own, where it has one"));
    btnSignIn = Captioned<QPushButton>(this, "btnSignIn", "&Sign in…");
    btnSignOut = Captioned<QPushButton>(this, "btnSignOut", "Sign out");
    lblSignedIn = Named(new QLabel(this), "lblSignedIn");
    lblSignedIn->setTextFormat(Qt::PlainText); // a server's words, never markup
    lblSignedIn->setWordWrap(true);

    pnlWaiting = Named(new QWidget(this), "pnlWaiting");
    lblWaiting = Named(new QLabel(pnlWaiting), "lblWaiting");
    lblWaiting->setTextFormat(Qt::PlainText);
    lblWaiting->setWordWrap(true);
    txtAddress = Named(new QLineEdit(pnlWaiting), "txtAddress");
    txtAddress->setReadOnly(true);
    btnUseCode = Captioned<QPushButton>(pnlWaiting, "btnUseCode", "Use a &code instead");
    btnCancelSignIn = Captioned<QPushButton>(pnlWaiting, "btnCancelSignIn", "Stop signing in");
    auto* waitButtons = new QHBoxLayout;
    waitButtons->addWidget(btnUseCode);
    waitButtons->addWidget(btnCancelSignIn);
    waitButtons->addStretch(1);
    auto* waiting = new QVBoxLayout(pnlWaiting);
    waiting->setContentsMargins(0, 0, 0, 0);
    waiting->addWidget(lblWaiting);
    waiting->addWidget(txtAddress);
    waiting->addLayout(waitButtons);
    pnlWaiting->hide();

    auto* signButtons = new QHBoxLayout;
    signButtons->addWidget(btnSignIn);
    signButtons->addWidget(btnSignOut);
    signButtons->addStretch(1);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(lblAuthentication, 0, 0);
    grid->addWidget(cboAuthentication, 0, 1);
    grid->addWidget(lblIssuer, 1, 0);
    grid->addWidget(txtIssuer, 1, 1);
    grid->addWidget(lblClientId, 2, 0);
    grid->addWidget(txtClientId, 2, 1);
    grid->addLayout(signButtons, 3, 0, 1, 2);
    grid->addWidget(lblSignedIn, 4, 0, 1, 2);
    grid->addWidget(pnlWaiting, 5, 0, 1, 2);

    connect(cboAuthentication, &QComboBox::currentIndexChanged, this, [this] { Edited(); });
    connect(txtIssuer, &QLineEdit::textEdited, this, [this] { Edited(); });
    connect(txtClientId, &QLineEdit::textEdited, this, [this] { Edited(); });
    connect(btnSignIn, &QPushButton::clicked, this, [this] { StartSignIn(false); });
    connect(btnUseCode, &QPushButton::clicked, this, [this] { StartSignIn(true); });
    connect(btnCancelSignIn, &QPushButton::clicked, this, [this] { CancelSignIn(); });
    connect(btnSignOut, &QPushButton::clicked, this, [this] { SignOut(); });
    ShowAccount(nullptr);
}

TSignInPanel::~TSignInPanel()
{
    CancelSignIn();
    // Cancelled, a sign-in ends at once; only a keyring that does not answer
    // could hold a thread longer, and the program does not wait for that.
    for (int waited = 0; FWorkers->load() > 0 && waited < 300; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

template <typename F> void TSignInPanel::Beside(F work)
{
    ++*FWorkers;
    std::thread([workers = FWorkers, work = std::move(work)]() mutable {
        work();
        --*workers;
    }).detach();
}

void TSignInPanel::SetTokens(TAccessTokens* tokens)
{
    FTokens = tokens;
    ShowChoice();
}

void TSignInPanel::ShowTokenStore(bool keyring)
{
    FKeyring = keyring;
    ShowChoice();
}

void TSignInPanel::ShowAccount(const Account* account)
{
    CancelSignIn();
    FAccount = account ? std::make_unique<Account>(*account) : nullptr;
    FShowing = true;
    // The API token is JMAP's alone.
    const bool token = FAccount && FAccount->JMAP;
    if (token && cboAuthentication->count() == pcApiToken)
        cboAuthentication->addItem(ResText("API token"));
    else if (!token && cboAuthentication->count() > pcApiToken)
        cboAuthentication->removeItem(pcApiToken);
    std::string issuerField;
    const TProviderChoice choice = FAccount ? ChoiceOf(*FAccount, &issuerField) : pcPassword;
    cboAuthentication->setCurrentIndex(choice);
    txtIssuer->setText(Shown(issuerField));
    txtClientId->setText(FAccount ? Shown(FAccount->OAuth2ClientId) : QString());
    FShowing = false;
    lblSignedIn->clear();
    ShowChoice();
    AskSignedIn();
}

void TSignInPanel::Refresh()
{
    if (!FAccount || !Current)
        return;
    if (std::optional<Account> now = Current())
        *FAccount = std::move(*now);
}

void TSignInPanel::Edited()
{
    if (FShowing || !FAccount)
        return;
    ApplyChoice(*FAccount, static_cast<TProviderChoice>(cboAuthentication->currentIndex()), ToCodePage(txtIssuer->text()),
                ToCodePage(txtClientId->text()));
    if (OnEdited)
        OnEdited(*FAccount);
    ShowChoice();
}

void TSignInPanel::ShowChoice()
{
    const auto choice = static_cast<TProviderChoice>(cboAuthentication->currentIndex());
    const bool oauth = FAccount && choice != pcPassword && choice != pcApiToken;
    cboAuthentication->setEnabled(FAccount != nullptr);
    lblIssuer->setVisible(choice == pcMicrosoft || choice == pcOther);
    txtIssuer->setVisible(choice == pcMicrosoft || choice == pcOther);
    lblIssuer->setText(choice == pcMicrosoft ? ResText("Tenant:") : ResText("Issuer:"));
    txtIssuer->setPlaceholderText(choice == pcMicrosoft ? QStringLiteral("common") : QStringLiteral("https://"));
    for (QWidget* w : std::initializer_list<QWidget*>{lblClientId, txtClientId, btnSignIn, btnSignOut, lblSignedIn})
        w->setVisible(oauth);
    btnSignIn->setEnabled(oauth && FTokens && !SigningIn());
    btnSignOut->setEnabled(oauth && FTokens && !SigningIn());
}

void TSignInPanel::Waiting(bool waiting)
{
    if (waiting)
    {
        FFocusBefore = QApplication::focusWidget();
        lblWaiting->setText(ResText("Waiting for the sign-in in the browser. If none opened, open this address:"));
        txtAddress->clear();
        btnUseCode->hide();
        pnlWaiting->show();
    }
    else
    {
        QWidget* focus = QApplication::focusWidget();
        pnlWaiting->hide();
        ShowChoice();
        // The keyboard goes back where it was, not to wherever it moved
        // while the sign-in button was off.
        if ((!focus || isAncestorOf(focus)) && FFocusBefore && FFocusBefore->isVisible() &&
            FFocusBefore->isEnabled())
            FFocusBefore->setFocus();
        return;
    }
    ShowChoice();
}

void TSignInPanel::CancelSignIn()
{
    if (!FRun)
        return;
    {
        std::lock_guard lock(FRun->Mutex);
        FRun->Cancelled = true;
        if (FRun->SignIn)
            FRun->SignIn->Cancel();
    }
    FRun.reset();
    Waiting(false);
}

void TSignInPanel::Done(const std::string& line, bool signedIn)
{
    FRun.reset();
    Waiting(false);
    lblSignedIn->setText(Shown(line));
    (void)signedIn;
}

void TSignInPanel::StartSignIn(bool withCode)
{
    Refresh();
    if (!FTokens || !FAccount || FAccount->Authentication != aaOAuth2)
        return;
    const bool wasWaiting = SigningIn();
    QPointer<QWidget> focus = FFocusBefore;
    CancelSignIn();
    auto run = std::make_shared<TRun>();
    FRun = run;
    Waiting(true);
    if (wasWaiting)
        FFocusBefore = focus; // the code button had it; the focus goes back to where the sign-in began
    if (withCode)
        lblWaiting->setText(ResText("Asking for a code…"));
    const Account account = *FAccount;
    TAccessTokens* tokens = FTokens;
    const bool keyring = FKeyring;
    QPointer<TSignInPanel> self(this);
    Beside([run, account, tokens, keyring, self, withCode] {
        std::string line;
        bool signedIn = false;
        try
        {
            const TProvider provider = tokens->ProviderFor(account);
            OnPanel(self, [self, run, device = provider.DeviceGrant()] {
                if (self->FRun == run)
                    self->btnUseCode->setVisible(device);
            });
            TSignIn* signIn = nullptr;
            {
                std::lock_guard lock(run->Mutex);
                if (run->Cancelled)
                    return;
                run->SignIn = std::make_unique<TSignIn>(provider, THttpLimits{}, account.UserName);
                signIn = run->SignIn.get();
            }
            TSignInHooks hooks;
            hooks.ShowAddress = [self, run](const std::string& url) {
                OnPanel(self, [self, run, url] {
                    if (self->FRun == run)
                        self->txtAddress->setText(QString::fromStdString(url));
                });
            };
            hooks.OpenBrowser = [self, run](const std::string& url) {
                OnPanel(self, [self, run, url] {
                    if (self->FRun == run && self->OpenUrl)
                        self->OpenUrl(QUrl(QString::fromStdString(url)));
                });
                return true;
            };
            hooks.ShowCode = [self, run](const TDeviceCode& code) {
                OnPanel(self, [self, run, code] {
                    if (self->FRun != run)
                        return;
                    self->lblWaiting->setText(FromCodePage(
                        FormatOne(ResStr("Enter the code %s at this address, on any device:"), "%s", code.UserCode)));
                    self->txtAddress->setText(QString::fromStdString(code.VerificationUri));
                    self->btnUseCode->hide();
                });
            };
            const TSignedIn done = withCode ? signIn->WithCode(hooks) : signIn->WithBrowser(hooks);
            tokens->SignedIn(account, done.Grant);
            const std::string who = done.Who.empty() ? account.UserName : ToCodePage(QString::fromStdString(done.Who));
            line = FormatOne(keyring ? ResStr("Signed in as %s.")
                                     : ResStr("Signed in as %s. Without a keyring the sign-in is kept in the settings "
                                              "file."),
                             "%s", who);
            signedIn = true;
        }
        catch (const std::exception& e)
        {
            std::lock_guard lock(run->Mutex);
            if (run->Cancelled)
                return;
            line = e.what();
        }
        OnPanel(self, [self, run, line, signedIn] {
            if (self->FRun == run)
                self->Done(line, signedIn);
        });
    });
}

void TSignInPanel::SignOut()
{
    Refresh();
    if (!FTokens || !FAccount)
        return;
    CancelSignIn();
    const Account account = *FAccount;
    TAccessTokens* tokens = FTokens;
    QPointer<TSignInPanel> self(this);
    btnSignOut->setEnabled(false);
    Beside([account, tokens, self] {
        std::string line;
        try
        {
            line = tokens->SignOut(account)
                       ? ResStr("Signed out.")
                       : ResStr("Signed out here; the provider could not be told, so the grant stays until it "
                                "expires.");
        }
        catch (const std::exception& e)
        {
            line = e.what();
        }
        OnPanel(self, [self, line] {
            self->lblSignedIn->setText(Shown(line));
            self->ShowChoice();
        });
    });
}

void TSignInPanel::AskSignedIn()
{
    if (!FTokens || !FAccount || FAccount->Authentication != aaOAuth2)
        return;
    const Account account = *FAccount;
    TAccessTokens* tokens = FTokens;
    QPointer<TSignInPanel> self(this);
    Beside([account, tokens, self] {
        std::string line;
        try
        {
            line = tokens->HasSignIn(account) ? FormatOne(ResStr("Signed in as %s."), "%s", account.UserName)
                                              : ResStr("Not signed in yet.");
        }
        catch (const std::exception& e)
        {
            line = e.what();
        }
        OnPanel(self, [self, line, key = account.UserName + '\n' + account.OAuth2Issuer] {
            // Only while the same account is shown and nothing newer was said.
            if (self->FAccount && self->FAccount->UserName + '\n' + self->FAccount->OAuth2Issuer == key &&
                self->lblSignedIn->text().isEmpty())
                self->lblSignedIn->setText(Shown(line));
        });
    });
}
