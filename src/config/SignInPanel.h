#pragma once

#include "check/Account.h"

#include <QPointer>

#include <atomic>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QUrl;
class TAccessTokens;

// The part of the Account page that says how the selected account logs in,
// signs it in and out, and says who is signed in. The sign-in itself runs
// on a thread of its own; the page only shows what it waits for.
class TSignInPanel : public QWidget
{
    Q_OBJECT
public:
    explicit TSignInPanel(QWidget* parent);
    ~TSignInPanel() override;

    // The program's tokens, which outlive every sign-in; without them the
    // sign-in stays off.
    void SetTokens(TAccessTokens* tokens);
    // Opens the authorization address in the system's browser.
    std::function<bool(const QUrl&)> OpenUrl;

    // The selected account (null: none) and whether a keyring keeps tokens.
    void ShowAccount(const Account* account);
    void ShowTokenStore(bool keyring);
    // The selected account as the page holds it now (its user name or
    // server may have changed since it was shown); unset: as shown.
    std::function<std::optional<Account>()> Current;
    // The user changed how the account logs in: Authentication, OAuth2Issuer
    // and OAuth2ClientId as the controls give them.
    std::function<void(const Account&)> OnEdited;

    // Ends a sign-in under way, as Cancel does.
    void CancelSignIn();
    bool SigningIn() const { return FRun != nullptr; }

    QLabel* lblAuthentication = nullptr;
    QComboBox* cboAuthentication = nullptr; // TProviderChoice
    QLabel* lblIssuer = nullptr;
    QLineEdit* txtIssuer = nullptr; // Microsoft's tenant, or another issuer
    QLabel* lblClientId = nullptr;
    QLineEdit* txtClientId = nullptr;
    QPushButton* btnSignIn = nullptr;
    QPushButton* btnSignOut = nullptr;
    QLabel* lblSignedIn = nullptr;
    // While a sign-in waits.
    QWidget* pnlWaiting = nullptr;
    QLabel* lblWaiting = nullptr;
    QLineEdit* txtAddress = nullptr; // the address, to copy
    QPushButton* btnUseCode = nullptr;
    QPushButton* btnCancelSignIn = nullptr;

    enum TProviderChoice
    {
        pcPassword,
        pcGoogle,
        pcMicrosoft,
        pcOther,
        // Offered for JMAP accounts only: the password field holds the token.
        pcApiToken
    };
    // How the controls read an account, and back.
    static TProviderChoice ChoiceOf(const Account& account, std::string* issuerField);
    static void ApplyChoice(Account& account, TProviderChoice choice, const std::string& issuerField,
                            const std::string& clientId);

private:
    struct TRun;
    void Edited();
    // Takes in what changed on the page since the account was shown.
    void Refresh();
    void ShowChoice();
    void StartSignIn(bool withCode);
    void SignOut();
    void AskSignedIn();
    void Waiting(bool waiting);
    void Done(const std::string& line, bool signedIn);

    TAccessTokens* FTokens = nullptr;
    std::unique_ptr<Account> FAccount;
    std::shared_ptr<TRun> FRun;
    bool FShowing = false;
    bool FKeyring = true;
    QPointer<QWidget> FFocusBefore;
    // Threads still working for the panel; it waits a little for them when
    // it goes, so none outlives the tokens it uses.
    std::shared_ptr<std::atomic<int>> FWorkers = std::make_shared<std::atomic<int>>(0);
    template <typename F> void Beside(F work);
};
