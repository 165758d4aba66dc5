// What the settings window does when the user works with it. The rules live
// in SettingsRules and AccountListBinding; these handlers apply them to the
// controls.
#include "config/SettingsForm.h"

#include "check/CheckRules.h"
#include "config/AccountFind.h"
#include "config/FoldersDialog.h"
#include "config/AccountListBinding.h"
#include "config/AccountRows.h"
#include "config/AccountSecrets.h"
#include "config/Config.h"
#include "config/ConfigStore.h" // the start-up defaults
#include "config/RuleDialog.h"
#include "config/RuleList.h"
#include "config/SettingsRules.h"
#include "config/SignInPanel.h"
#include "desktop/UpDownControl.h"
#include "find/FindNetworkModule.h"
#include "i18n/Translate.h"
#include "oauth/TokenKeeper.h"
#include "platform/CodePage.h"
#include "desktop/Dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QTextDocument>
#include <QTreeWidget>

namespace
{

std::string Text(const QLineEdit* edit)
{
    return ToCodePage(edit->text());
}

void ApplyPathBox(const QCheckBox* box, QLineEdit* edit, const std::string& defaultText)
{
    const TPathField field = PathBoxRule(box->isChecked(), Text(edit), defaultText);
    edit->setEnabled(field.Enabled);
    const QString text = FromCodePage(field.Text);
    if (edit->text() != text)
        edit->setText(text);
}

void ApplyTimeBox(const QCheckBox* box, TUpDown* spinner)
{
    const TTimeField field = TimeBoxRule(box->isChecked(), spinner->Position());
    spinner->setEnabled(field.ArrowsEnabled);
    if (!field.ArrowsEnabled)
        spinner->SetPosition(field.Position);
}

// An in-place caption editor is open in the list: Enter and Esc belong to it.
bool CaptionEditorOpen(const QTreeWidget& list)
{
    const QAbstractItemModel* model = list.model();
    for (int row = 0; row < model->rowCount(); ++row)
        if (list.indexWidget(model->index(row, acCaption)))
            return true;
    return false;
}

} // namespace

void TfrmSettings::ConnectHandlers()
{
    Accounts = std::make_unique<TAccountListBinding>(
        *lvwAccounts, FAccounts, FOrigins,
        TAccountListBinding::TFields{txtUserName, txtPassword, txtHost, txtPort, rdbPop3, rdbImap4, rdbJmap,
                                     cboSecurity, chkPush, chkCheckingTime, txtCheckingTime, spnCheckingTime, spnInterval,
                                     chkSilent, txtEmailAddress, btnFolders, cboAccountSound, chkNotify,
                                     cboUrgency});
    Accounts->ShowProtocolChoice();

    connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });

    connect(chkSound, &QCheckBox::clicked, this, [this] { chkSoundChange(); });
    connect(chkSilentMode, &QCheckBox::clicked, this, [this] { chkSilentModeChange(); });
    connect(chkShowIcon, &QCheckBox::clicked, this, [this] { chkShowIconChange(); });
    connect(chkShowForm, &QCheckBox::clicked, this, [this] { chkShowIconChange(); });
    connect(chkExecute, &QCheckBox::clicked, this, [this] { chkExecuteChange(); });
    connect(chkAutoHide, &QCheckBox::clicked, this, [this] { chkAutoHideChange(); });
    connect(chkAnimation, &QCheckBox::clicked, this, [this] { chkAnimationChange(); });

    connect(txtApplicationButton, &QPushButton::clicked, this, [this] { txtApplicationButtonClick(); });
    connect(txtSoundBtn, &QPushButton::clicked, this, [this] { txtSoundBtnClick(); });
    connect(txtShowIconBtn, &QPushButton::clicked, this, [this] { txtShowIconBtnClick(); });
    connect(txtAnimationBtn, &QPushButton::clicked, this, [this] { txtAnimationBtnClick(); });

    // The rows that lost the selection first, then the ones that gained it,
    // so the edits end up showing the selected row.
    connect(lvwAccounts->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                const auto report = [this](const QItemSelection& rows, bool isSelected) {
                    for (const QModelIndex& index : rows.indexes())
                        if (index.isValid() && index.column() == acCaption &&
                            index.row() < lvwAccounts->topLevelItemCount())
                            lvwAccounts2SelectItem(lvwAccounts->topLevelItem(index.row()), isSelected);
                };
                report(deselected, false);
                report(selected, true);
            });
    connect(btnAdd, &QPushButton::clicked, this, [this] { btnAddClick(); });
    connect(btnRemove, &QPushButton::clicked, this, [this] { btnRemoveClick(); });
    connect(btnRename, &QPushButton::clicked, this, [this] { btnRenameClick(); });
    connect(txtUserName, &QLineEdit::textChanged, this, [this] { txtUserName1Change(); });
    connect(txtPassword, &QLineEdit::textChanged, this, [this] { txtPasswordChange(); });
    connect(txtHost, &QLineEdit::textChanged, this, [this] { txtHostChange(); });
    connect(txtPort, &QLineEdit::textChanged, this, [this] { txtPortChange(); });
    connect(txtEmailAddress, &QLineEdit::textChanged, this, [this] { txtEmailAddressChange(); });
    connect(btnFind, &QPushButton::clicked, this, [this] { btnFindClick(); });
    connect(cboSecurity, &QComboBox::currentIndexChanged, this, [this] { cboSecurityChange(); });
    connect(chkPush, &QCheckBox::toggled, this, [this] { chkPushChange(); });
    connect(chkCheckingTime, &QCheckBox::toggled, this, [this] { chkCheckingTimeChange(); });
    connect(txtCheckingTime, &QLineEdit::textChanged, this, [this] { txtCheckingTimeChange(); });
    connect(chkSilent, &QCheckBox::toggled, this, [this] { chkSilentChange(); });
    connect(btnFolders, &QPushButton::clicked, this, [this] { btnFoldersClick(); });
    connect(cboAccountSound, &QComboBox::currentIndexChanged, this, [this] { cboAccountSoundChange(); });
    connect(btnAccountSound, &QPushButton::clicked, this, [this] { btnAccountSoundClick(); });
    connect(chkNotify, &QCheckBox::toggled, this, [this] { chkNotifyChange(); });
    connect(cboUrgency, &QComboBox::currentIndexChanged, this, [this] { cboUrgencyChange(); });

    connect(btnRuleAdd, &QPushButton::clicked, this, [this] { btnRuleAddClick(); });
    connect(btnRuleEdit, &QPushButton::clicked, this, [this] { btnRuleEditClick(); });
    connect(btnRuleRemove, &QPushButton::clicked, this, [this] { btnRuleRemoveClick(); });
    connect(btnRuleUp, &QPushButton::clicked, this, [this] { btnRuleUpClick(); });
    connect(btnRuleDown, &QPushButton::clicked, this, [this] { btnRuleDownClick(); });
    connect(lvwRules, &QListView::doubleClicked, this, [this] { btnRuleEditClick(); });
    connect(lvwRules->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { ShowRuleProblem(); });
    connect(FRules, &QAbstractItemModel::dataChanged, this, [this] { ShowRuleProblem(); });
    connect(FRules, &QAbstractItemModel::modelReset, this, [this] { ShowRuleProblem(); });
    connect(rdbPop3, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            rdbPop3Click();
    });
    connect(rdbImap4, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            rdbImap4Click();
    });
    connect(rdbJmap, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            rdbJmapClick();
    });

    connect(pagSettings, &QTabWidget::currentChanged, this, [this](int index) { pagSettingsChange(index); });
    pnlSignIn->Current = [this]() -> std::optional<Account> {
        const int index = Accounts->SelectedIndex();
        if (index < 0 || index >= static_cast<int>(FAccounts.size()))
            return std::nullopt;
        return FAccounts[static_cast<size_t>(index)];
    };
    pnlSignIn->OnEdited = [this](const Account& edited) {
        const int index = Accounts->SelectedIndex();
        if (index < 0 || index >= static_cast<int>(FAccounts.size()))
            return;
        Account& account = FAccounts[static_cast<size_t>(index)];
        account.Authentication = edited.Authentication;
        account.OAuth2Issuer = edited.OAuth2Issuer;
        account.OAuth2ClientId = edited.OAuth2ClientId;
        ShowPasswordField(&account);
    };

    // The window sees every key before its controls do.
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
}

void TfrmSettings::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

bool TfrmSettings::eventFilter(QObject* watched, QEvent* event)
{
    // The tray menu is a child of this window but a window of its own.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this && !CaptionEditorOpen(*lvwAccounts) &&
        FormKeyDown(static_cast<QKeyEvent*>(event)->key()))
        return true;
    return QWidget::eventFilter(watched, event);
}

void TfrmSettings::FormShow()
{
    txtIntervalChange();

    chkSound->setChecked(PathTicked(Text(txtSound)));
    chkSilentMode->setChecked(TimeTicked(spnLedActiveTime->Position()));
    chkShowIcon->setChecked(PathTicked(Text(txtShowIcon)));
    chkExecute->setChecked(PathTicked(Text(txtExecute)));
    chkSoundChange();
    chkSilentModeChange();
    chkShowIconChange();
    chkExecuteChange();

    chkAutoHide->setChecked(TimeTicked(spnAutoHide->Position()));
    chkAnimation->setChecked(PathTicked(Text(txtAnimation)));
    chkAutoHideChange();
    chkAnimationChange();

    // The Account page may be open again after a load emptied the selection.
    if (pagSettings->currentWidget() == tabAccount)
        Accounts->SelectFirstIfNone();
}

bool TfrmSettings::FormKeyDown(int key)
{
    switch (key)
    {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        btnOkClick();
        return true;
    case Qt::Key_Escape:
        btnCancelClick();
        return true;
    default:
        return false;
    }
}

void TfrmSettings::SettleTimes()
{
    for (TUpDown* spinner : {spnInterval, spnLedActiveTime, spnAutoHide})
        spinner->SetPosition(spinner->Position());
}

void TfrmSettings::btnOkClick()
{
    // A time typed above its maximum is stored at the maximum; the edit
    // says so too.
    SettleTimes();
    // A port no connection can be made to is not stored: the window stays
    // open on its account with the field marked.
    if (!PortsValid())
        return;
    if (OnAccept)
        OnAccept();
    hide();
}

void TfrmSettings::btnCancelClick()
{
    hide();
    if (OnReject)
        OnReject();
}

void TfrmSettings::chkSoundChange()
{
    ApplyPathBox(chkSound, txtSound, DefaultSoundFile);
}

void TfrmSettings::chkSilentModeChange()
{
    ApplyTimeBox(chkSilentMode, spnLedActiveTime);
}

void TfrmSettings::chkShowIconChange()
{
    ApplyPathBox(chkShowIcon, txtShowIcon, DefaultIconFile);
}

void TfrmSettings::chkExecuteChange()
{
    ApplyPathBox(chkExecute, txtExecute, "");
}

void TfrmSettings::chkAutoHideChange()
{
    ApplyTimeBox(chkAutoHide, spnAutoHide);
}

void TfrmSettings::chkAnimationChange()
{
    ApplyPathBox(chkAnimation, txtAnimation, DefaultAnimationFile);
}

void TfrmSettings::PickFile(TPicker picker, QLineEdit* edit)
{
    // The button works while its box is cleared; the tick follows the path
    // the next time the window opens.
    if (const auto path = OpenFileDlg(this, PickerRequest(picker, Text(txtApplication))))
        edit->setText(FromCodePage(*path));
}

void TfrmSettings::txtApplicationButtonClick()
{
    PickFile(TPicker::EmailClient, txtApplication);
}

void TfrmSettings::txtSoundBtnClick()
{
    PickFile(TPicker::Sound, txtSound);
}

void TfrmSettings::txtShowIconBtnClick()
{
    PickFile(TPicker::Icon, txtShowIcon);
}

void TfrmSettings::txtAnimationBtnClick()
{
    PickFile(TPicker::Animation, txtAnimation);
}

void TfrmSettings::lvwAccounts2SelectItem(QTreeWidgetItem* item, bool /*selected*/)
{
    // What a search finds belongs to the account it was started for.
    StopFind();
    if (item)
        Accounts->ShowRow(*item);
    ShowSignIn();
}

void TfrmSettings::ShowSignIn()
{
    const int index = Accounts->SelectedIndex();
    const Account* account =
        index >= 0 && index < static_cast<int>(FAccounts.size()) ? &FAccounts[static_cast<size_t>(index)] : nullptr;
    pnlSignIn->ShowAccount(account);
    ShowPasswordField(account);
}

void TfrmSettings::ShowPasswordField(const Account* account)
{
    txtPassword->setEnabled(!account || account->Authentication != aaOAuth2);
    lblPassword->setText(account && account->Authentication == aaBearer ? ResText("API token:")
                                                                        : ResText("Password:"));
}

void TfrmSettings::SetAccessTokens(TAccessTokens* tokens)
{
    FTokens = tokens;
    if (Built())
        pnlSignIn->SetTokens(tokens);
}

void TfrmSettings::btnAddClick()
{
    lvwAccounts->editItem(Accounts->AddRow(), acCaption);
}

void TfrmSettings::btnRemoveClick()
{
    TMessageRequest request;
    request.Caption = ResStr("Confirm");
    request.Text = ResStr("Are you sure you want to remove the selected account?");
    request.Type = TMsgDlgType::mtConfirmation;
    request.Buttons = mbYes | mbNo;
    if (MessageDlg(this, request) == TModalResult::mrYes)
        Accounts->RemoveSelected();
}

void TfrmSettings::btnRenameClick()
{
    if (QTreeWidgetItem* row = Accounts->Selected())
        lvwAccounts->editItem(row, acCaption);
}

void TfrmSettings::txtUserName1Change()
{
    Accounts->StoreText(&Account::UserName, txtUserName->text());
}

void TfrmSettings::txtPasswordChange()
{
    Accounts->StoreText(&Account::Password, txtPassword->text());
}

void TfrmSettings::txtHostChange()
{
    Accounts->StoreText(&Account::Host, txtHost->text());
}

void TfrmSettings::txtPortChange()
{
    Accounts->StoreText(&Account::Port, txtPort->text());
    MarkPort(PortProblem(Text(txtPort)));
}

void TfrmSettings::MarkPort(const std::string& problem)
{
    const bool bad = !problem.empty();
    txtPort->setProperty(InvalidProperty, bad);
    txtPort->setStyleSheet(bad ? QStringLiteral("QLineEdit { background: #ffd6d6; }") : QString());
    // The text is what the user typed: never read as markup.
    txtPort->setToolTip(bad ? Qt::convertFromPlainText(FromCodePage(problem), Qt::WhiteSpaceNormal) : QString());
}

void TfrmSettings::ShowAccount(int index)
{
    if (!Built() || index < 0 || index >= lvwAccounts->topLevelItemCount())
        return;
    QTreeWidgetItem* row = lvwAccounts->topLevelItem(index);
    pagSettings->setCurrentWidget(tabAccount);
    Accounts->Select(row);
    Accounts->ShowRow(*row);
}

bool TfrmSettings::PortsValid()
{
    for (int i = 0; i < static_cast<int>(FAccounts.size()) && i < lvwAccounts->topLevelItemCount(); ++i)
    {
        // A JMAP account's port is its address's.
        const std::string problem = FAccounts[i].JMAP ? std::string() : PortProblem(FAccounts[i].Port);
        if (problem.empty())
            continue;
        QTreeWidgetItem* row = lvwAccounts->topLevelItem(i);
        pagSettings->setCurrentWidget(tabAccount);
        Accounts->Select(row);
        Accounts->ShowRow(*row);
        MarkPort(problem);
        txtPort->setFocus();
        txtPort->selectAll();
        return false;
    }
    return true;
}

void TfrmSettings::cboSecurityChange()
{
    Accounts->StoreSecurity();
}

void TfrmSettings::btnFoldersClick()
{
    const int index = Accounts->SelectedIndex();
    if (index < 0 || !(FAccounts[index].IMAP4 || FAccounts[index].JMAP))
        return;
    int port = 0;
    try
    {
        port = PortOfText(FAccounts[index].Port);
    }
    catch (const EBadPort& e)
    {
        ShowWarningBox("ternbell", e.Message);
        return;
    }
    // The login of a round: an OAuth2 account's token, a password from the
    // keyring where the settings hold none.
    TSessionLimits limits;
    if (FTokens)
        limits.Tokens = std::shared_ptr<IAccessTokens>(std::shared_ptr<void>(), FTokens);
    const auto open = [this, index, port, limits](const Account& account) {
        // Another account chosen while the keyring answered: nothing opens.
        if (index != Accounts->SelectedIndex())
            return;
        // Window-modal and not waited for: the list comes beside the windows.
        auto* dialog = new TfrmFolders(this, account, port, limits);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QDialog::accepted, this,
                [this, dialog, index] { Accounts->StoreFolders(index, dialog->Chosen()); });
        dialog->open();
    };
    const Account& account = FAccounts[index];
    if (ReadPassword && account.Authentication == aaPassword && account.Password.empty())
        ReadPassword(account, open);
    else
        open(account);
}

void TfrmSettings::chkPushChange()
{
    Accounts->StorePush();
}

void TfrmSettings::chkCheckingTimeChange()
{
    Accounts->StoreCheckingTime();
    Accounts->ShowCheckingTime();
}

void TfrmSettings::txtCheckingTimeChange()
{
    Accounts->StoreCheckingTime();
}

void TfrmSettings::chkSilentChange()
{
    Accounts->StoreSilent();
}

void TfrmSettings::rdbPop3Click()
{
    ProtocolChosen();
}

void TfrmSettings::rdbImap4Click()
{
    ProtocolChosen();
}

void TfrmSettings::rdbJmapClick()
{
    ProtocolChosen();
}

void TfrmSettings::ProtocolChosen()
{
    const int index = Accounts->SelectedIndex();
    const bool selected = index >= 0 && index < static_cast<int>(FAccounts.size());
    const bool wasJmap = selected && FAccounts[static_cast<size_t>(index)].JMAP;
    Accounts->StoreProtocol();
    Accounts->ShowProtocolChoice();
    // The API token comes and goes with JMAP; a sign-in under way for
    // IMAP4 or POP3 is not disturbed by switching between them.
    if (selected && FAccounts[static_cast<size_t>(index)].JMAP != wasJmap)
        ShowSignIn();
}

void TfrmSettings::pagSettingsChange(int index)
{
    QWidget* page = pagSettings->widget(index);
    if (page == tabNotification && lvwAccounts->topLevelItemCount() > 0)
        Accounts->Select(lvwAccounts->topLevelItem(0));
    else if (page == tabAccount)
        Accounts->SelectFirstIfNone();
}

void TfrmSettings::ShowPasswordStore(TSecretStore::TPresence presence)
{
    FPresence = presence;
    if (!Built())
        return;
    pnlSignIn->ShowTokenStore(presence != TSecretStore::TPresence::Absent);
    switch (presence)
    {
    case TSecretStore::TPresence::Present:
        lblPasswordStore->setText(FromCodePage(ResStr("Passwords are in the keyring.")));
        txtPassword->setPlaceholderText(FromCodePage(ResStr("Stored in the keyring")));
        break;
    case TSecretStore::TPresence::Absent:
        lblPasswordStore->setText(
            FromCodePage(ResStr("No keyring: passwords are in the settings.")));
        txtPassword->setPlaceholderText({});
        break;
    default:
        lblPasswordStore->clear();
        txtPassword->setPlaceholderText({});
        break;
    }
}

void TfrmSettings::ForgetPassword(const Account& account)
{
    for (size_t i = 0; i < FAccounts.size(); ++i)
    {
        Account& shown = FAccounts[i];
        if (shown.Password != account.Password || SecretKeyOf(shown) != SecretKeyOf(account))
            continue;
        if (Built() && Accounts->SelectedIndex() == static_cast<int>(i))
            txtPassword->clear(); // stores "" as a typed change would
        shown.Password.clear();
    }
}

void TfrmSettings::txtEmailAddressChange()
{
    Accounts->StoreText(&Account::EmailAddress, txtEmailAddress->text());
}

TAccountFind& TfrmSettings::AccountFinder()
{
    if (!Finding)
        Finding = std::make_unique<TAccountFind>(MakeFindNetwork ? MakeFindNetwork : CreateFindNetwork);
    return *Finding;
}

void TfrmSettings::StopFind()
{
    if (!Finding || !Finding->Running())
        return;
    Finding->Cancel();
    btnFind->setText(ResText("&Find"));
    lblFindResult->clear();
}

void TfrmSettings::btnFindClick()
{
    if (Finding && Finding->Running())
    {
        StopFind();
        return;
    }
    const int index = Accounts->SelectedIndex();
    if (index < 0)
        return;
    const std::string address = Text(txtEmailAddress);
    const TAddressParts parts = SplitAddress(address);
    if (!parts.Valid())
    {
        lblFindResult->setText(FromCodePage(FindOutcomeText({}, address)));
        return;
    }
    btnFind->setText(ResText("S&top"));
    lblFindResult->setText(FromCodePage(FormatOne(ResStr("Looking up the settings for %s..."), "%s", parts.Domain)));
    try
    {
        AccountFinder().Start(address, [this, index, address](const TFindOutcome& outcome) {
            FindDone(index, address, outcome);
        });
    }
    catch (const Exception& e)
    {
        btnFind->setText(ResText("&Find"));
        lblFindResult->setText(FromCodePage(e.Message));
    }
}

void TfrmSettings::FindDone(int index, const std::string& address, const TFindOutcome& outcome)
{
    btnFind->setText(ResText("&Find"));
    lblFindResult->setText(FromCodePage(FindOutcomeText(outcome, address)));
    QTreeWidgetItem* row = Accounts->Selected();
    if (!outcome.Server.Found() || !row || index != Accounts->SelectedIndex())
        return;
    Account& account = FAccounts[static_cast<std::size_t>(index)];
    const bool defaultCaption = account.Caption.empty() || account.Caption == Account{}.Caption
                                || account.Caption == ResStr("Account name");
    FillAccount(account, outcome.Server, address, false);
    // The filled fields are the user's now, as if typed.
    for (const char* name : {AccountValueName(&Account::UserName), AccountValueName(&Account::Host),
                             AccountValueName(&Account::Port), AccountValueName(&Account::IMAP4),
                             AccountValueName(&Account::JMAP),
                             AccountValueName(&Account::EmailAddress), "Security", "Authentication",
                             "OAuth2Issuer"})
        ForgetUnread(account, name);
    // Through the row, as an edit in place would store it.
    if (defaultCaption)
        row->setText(acCaption, FromCodePage(account.EmailAddress));
    Accounts->ShowRow(*row);
    ShowSignIn();
    if (account.Authentication == aaOAuth2)
        pnlSignIn->btnSignIn->setFocus();
    else
        txtPassword->setFocus();
}

void TfrmSettings::cboAccountSoundChange()
{
    Accounts->StoreSound();
}

void TfrmSettings::btnAccountSoundClick()
{
    if (Accounts->SelectedIndex() < 0)
        return;
    if (const auto path = OpenFileDlg(this, PickerRequest(TPicker::Sound, {})))
        Accounts->ChooseSoundFile(*path);
}

void TfrmSettings::chkNotifyChange()
{
    Accounts->StoreNotify();
    Accounts->ShowNotifyChoice();
}

void TfrmSettings::cboUrgencyChange()
{
    Accounts->StoreUrgency();
}

int TfrmSettings::SelectedRule() const
{
    const QModelIndexList rows = lvwRules->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.constFirst().row();
}

void TfrmSettings::SelectRule(int row)
{
    if (row >= 0 && row < FRules->Count())
        lvwRules->setCurrentIndex(FRules->index(row));
    else
        lvwRules->clearSelection();
}

void TfrmSettings::ShowRuleProblem()
{
    const int row = SelectedRule();
    const std::string problem = row >= 0 ? FRules->Problem(row) : std::string();
    lblRuleProblem->setText(FromCodePage(problem));
    lblRuleProblem->setVisible(!problem.empty());
}

void TfrmSettings::EditRule(const std::string& text, std::function<void(const std::string&)> done)
{
    // Window-modal and not waited for, as the folder choice.
    auto* dialog = new TfrmRule(this, text);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [dialog, done = std::move(done)] { done(dialog->Text()); });
    dialog->open();
}

void TfrmSettings::btnRuleAddClick()
{
    EditRule(JoinRule({}), [this](const std::string& text) {
        FRules->Append(text);
        SelectRule(FRules->Count() - 1);
    });
}

void TfrmSettings::btnRuleEditClick()
{
    const int row = SelectedRule();
    if (row < 0)
        return;
    // The rule is found again by its text: the list may have changed under
    // a dialog that is not waited for.
    const std::string before = FRules->Text(row);
    EditRule(before, [this, row, before](const std::string& text) {
        if (row < FRules->Count() && FRules->Text(row) == before)
            FRules->Replace(row, text);
    });
}

void TfrmSettings::btnRuleRemoveClick()
{
    const int row = SelectedRule();
    if (row < 0)
        return;
    FRules->Remove(row);
    SelectRule(std::min(row, FRules->Count() - 1));
}

void TfrmSettings::btnRuleUpClick()
{
    const int row = SelectedRule();
    if (FRules->Move(row, -1))
        SelectRule(row - 1);
}

void TfrmSettings::btnRuleDownClick()
{
    const int row = SelectedRule();
    if (FRules->Move(row, 1))
        SelectRule(row + 1);
}
