#include "config/SettingsForm.h"

#include "config/AccountFind.h"
#include "config/AccountListBinding.h"
#include "config/AccountRows.h"
#include "config/Config.h"
#include "config/ConfigStore.h"
#include "config/LauncherBadge.h"
#include "config/RuleList.h"
#include "config/SettingsControls.h"
#include "config/SignInPanel.h"
#include "desktop/UpDownControl.h"
#include "i18n/Translate.h"
#include "desktop/Artwork.h"
#include "desktop/FormParts.h"
#include "desktop/WindowTexts.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QStyle>
#include <QStyleOptionButton>
#include <QPushButton>
#include <QRegularExpression>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimeEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace
{

// A "..." button as wide as its text needs, not as wide as the style's
// smallest captioned button.
class TBrowseButton : public QPushButton
{
public:
    using QPushButton::QPushButton;

    QSize sizeHint() const override
    {
        QStyleOptionButton option;
        initStyleOption(&option);
        const QSize text = fontMetrics().size(Qt::TextShowMnemonic, this->text());
        const QSize hint = QPushButton::sizeHint();
        const int frame = 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, this);
        const int width = text.width() + style()->pixelMetric(QStyle::PM_ButtonMargin, &option, this) + frame;
        return {std::min(hint.width(), std::max(width, hint.height())), hint.height()};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }
};

QPushButton* BrowseButton(QWidget* parent, const char* name)
{
    auto* button = Captioned<TBrowseButton>(parent, name, "...");
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

// Up-down arrows over an interval's edit, in steps of 5 seconds.
TUpDown* IntervalUpDown(QLineEdit* edit, QWidget* parent, const char* name)
{
    return Named(new TUpDown(edit, IntervalRange.Min, IntervalRange.Max, 5, IntervalRange.Initial, parent), name);
}

// An edit with a trailing widget (a "..." button or up-down arrows).
QHBoxLayout* EditRow(QWidget* edit, QWidget* trailing)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(2);
    row->addWidget(edit, 1);
    row->addWidget(trailing);
    return row;
}

} // namespace

TfrmSettings::TfrmSettings(QWidget* parent, TBuild build) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("ternbell settings"));
    // A fixed dialog frame without caption buttons, its size the layout's
    // (set once the controls are built).
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    if (build == TBuild::Now)
    {
        BuildControls();
        return;
    }
    // Translated with its controls, as a window is translated once.
    FHeld = std::make_unique<TConfig>(InitialConfigOfControls());
}

void TfrmSettings::BuildControls()
{
    pagSettings = Named(new QTabWidget(this), "pagSettings");
    // Every page caption whole: the window is as wide as the tabs need.
    pagSettings->setUsesScrollButtons(false);
    pagSettings->setElideMode(Qt::ElideNone);
    CreateGeneralPage();
    CreateNotificationPage();
    CreateFormOptionsPage();
    CreateAccountPage();
    CreateRulesPage();
    pagSettings->setCurrentIndex(0);

    btnDefault = Captioned<QPushButton>(this, "btnDefault", "&Default");
    btnOk = Captioned<QPushButton>(this, "btnOk", "&Ok");
    btnCancel = Captioned<QPushButton>(this, "btnCancel", "&Cancel");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnDefault);
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    connect(btnDefault, &QPushButton::clicked, this, [this] { btnDefaultClick(); });
    auto* main = new QVBoxLayout(this);
    // The window follows what its texts need, in any language and font.
    main->setSizeConstraint(QLayout::SetFixedSize);
    main->addWidget(pagSettings, 1);
    main->addLayout(buttons);

    ConnectHandlers();

    FormCreate();
    main->activate();
    CenterOnScreen(*this);

    if (FHeld)
    {
        ShowInControls(*FHeld);
        FHeld.reset();
    }
    if (FPresence)
        ShowPasswordStore(*FPresence);
}

void TfrmSettings::setVisible(bool visible)
{
    if (!visible && Built())
        StopFind();
    if (visible && isHidden() && OnShowing)
        OnShowing();
    if (visible && !Built())
        BuildControls();
    QWidget::setVisible(visible);
}

TfrmSettings::~TfrmSettings() = default;

void TfrmSettings::CreateGeneralPage()
{
    tabGeneral = Named(new QWidget, "tabGeneral");
    pagSettings->addTab(tabGeneral, QStringLiteral("&General"));
    QWidget* p = tabGeneral;

    lblGeneral = WrappedLabel(p, "lblGeneral",
                              "You can change the main configuration items here. If you want to "
                              "restore the default settings, please click onto Default button.");
    lblApplication = Captioned<QLabel>(p, "lblApplication", "Email client:");
    txtApplication = Named(new QLineEdit(p), "txtApplication");
    txtApplicationButton = BrowseButton(p, "txtApplicationButton");
    lblInterval = Captioned<QLabel>(p, "lblInterval", "Check my mail box every (sec.):");
    txtInterval = Named(new QLineEdit(p), "txtInterval");
    spnInterval = IntervalUpDown(txtInterval, p, "spnInterval");
    lblDoubleClick = Captioned<QLabel>(p, "lblDoubleClick", "Double click:");
    cboDoubleClick = Named(new QComboBox(p), "cboDoubleClick");
    cboDoubleClick->addItems(Items(DoubleClickItems));
    cboDoubleClick->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    lblPriority = Captioned<QLabel>(p, "lblPriority", "Required priority:");
    cboPriority = Named(new QComboBox(p), "cboPriority");
    cboPriority->addItems(Items(PriorityItems));
    cboPriority->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    chkNotifyNewMsg = Captioned<QCheckBox>(p, "chkNotifyNewMsg",
                                           "Notify only when you have messages not yet notified.");
    chkNotifyNewMsg->setChecked(InitialNotifyOnlyNewMsg);
    lblBadgeFor = Captioned<QLabel>(p, "lblBadgeFor", "Count on the launcher of:");
    cboBadgeFor = Named(new QComboBox(p), "cboBadgeFor");
    cboBadgeFor->setEditable(true);
    cboBadgeFor->setInsertPolicy(QComboBox::NoInsert);
    cboBadgeFor->addItem(QString::fromLatin1(OwnDesktopId));
    // The desktop's mail client first, where one is found.
    const std::string mailClient = MailClientDesktopId();
    if (IsDesktopId(mailClient) && mailClient != OwnDesktopId)
        cboBadgeFor->insertItem(0, QString::fromStdString(mailClient));
    cboBadgeFor->addItem(QString::fromLatin1(NoBadge));
    cboBadgeFor->lineEdit()->setPlaceholderText(QString::fromLatin1(OwnDesktopId));
    // Desktop ids, not words.
    KeepUntranslated(cboBadgeFor);
    KeepUntranslated(cboBadgeFor->lineEdit());
    lblBadgeForNote = Named(new QLabel(p), "lblBadgeForNote");
    lblBadgeForNote->setTextFormat(Qt::PlainText);
    lblBadgeForNote->setWordWrap(true);
    lblBadgeForNote->hide();
    KeepUntranslated(lblBadgeForNote); // told in the language of the moment
    btnMessageClient = Captioned<QPushButton>(p, "btnMessageClient", "Open the message clicked");
    btnMessageClient->setVisible(!MessageOpeningCommand(mailClient, DefaultEmailClient).empty());

    auto* grid = new QGridLayout(p);
    grid->addWidget(lblGeneral, 0, 0, 1, 2);
    grid->addWidget(lblApplication, 1, 0, 1, 2);
    auto* application = EditRow(txtApplication, txtApplicationButton);
    application->addWidget(btnMessageClient);
    grid->addLayout(application, 2, 0, 1, 2);
    // The long interval label has a row of its own, so the narrower labels
    // below leave the drop-down lists room for their longest item.
    auto* interval = new QHBoxLayout;
    interval->addWidget(lblInterval);
    interval->addLayout(EditRow(txtInterval, spnInterval), 1);
    grid->addLayout(interval, 3, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->addWidget(lblDoubleClick, 4, 0);
    grid->addWidget(cboDoubleClick, 4, 1);
    grid->addWidget(lblPriority, 5, 0);
    grid->addWidget(cboPriority, 5, 1);
    grid->addWidget(chkNotifyNewMsg, 6, 0, 1, 2);
    grid->addWidget(lblBadgeFor, 7, 0);
    grid->addWidget(cboBadgeFor, 7, 1);
    grid->addWidget(lblBadgeForNote, 8, 0, 1, 2);
    grid->setRowStretch(9, 1);

    connect(txtInterval, &QLineEdit::textChanged, this, [this] { txtIntervalChange(); });
    connect(cboBadgeFor, &QComboBox::editTextChanged, this, [this] { cboBadgeForChange(); });
    connect(btnMessageClient, &QPushButton::clicked, this, [this] { btnMessageClientClick(); });
}

void TfrmSettings::CreateNotificationPage()
{
    tabNotification = Named(new QWidget, "tabNotification");
    pagSettings->addTab(tabNotification, QStringLiteral("&Notification Behaviors"));
    QWidget* p = tabNotification;

    lblNotification = WrappedLabel(p, "lblNotification",
                                   "When you receive a new message you can chose what you want to "
                                   "do: the program show a window, or play a sound.");
    chkShowForm = Captioned<QCheckBox>(p, "chkShowForm", "Show a form:");
    chkSound = Captioned<QCheckBox>(p, "chkSound", "Play a sound:");
    txtSound = Named(new QLineEdit(p), "txtSound");
    txtSoundBtn = BrowseButton(p, "txtSoundBtn");
    chkSilentMode = Captioned<QCheckBox>(p, "chkSilentMode", "LED Blinking (Scoll Lock):");
    txtLedActiveTime = Named(new QLineEdit(p), "txtLedActiveTime");
    spnLedActiveTime = Named(new TUpDown(txtLedActiveTime, LedRange.Min, LedRange.Max, 5,
                                         LedRange.Initial, p),
                             "spnLedActiveTime");
    chkShowIcon = Captioned<QCheckBox>(p, "chkShowIcon", "Show an icon:");
    txtShowIcon = Named(new QLineEdit(p), "txtShowIcon");
    txtShowIconBtn = BrowseButton(p, "txtShowIconBtn");
    chkExecute = Captioned<QCheckBox>(p, "chkExecute", "Execute a process:");
    txtExecute = Named(new QLineEdit(p), "txtExecute");
    txtExecute->setToolTip(QStringLiteral("%SUBJECT% %FROM% %SIZE%"));
    chkShowPreview = Captioned<QCheckBox>(p, "chkShowPreview", "Show a preview of the text");

    grpQuietHours = Captioned<QGroupBox>(p, "grpQuietHours", "&Quiet hours");
    grpQuietHours->setCheckable(true);
    QWidget* g = grpQuietHours;
    lblQuietFrom = Captioned<QLabel>(g, "lblQuietFrom", "&From");
    dtpQuietFrom = Named(new QTimeEdit(g), "dtpQuietFrom");
    lblQuietFrom->setBuddy(dtpQuietFrom);
    lblQuietTo = Captioned<QLabel>(g, "lblQuietTo", "&to");
    dtpQuietTo = Named(new QTimeEdit(g), "dtpQuietTo");
    lblQuietTo->setBuddy(dtpQuietTo);
    lblQuietDays = Captioned<QLabel>(g, "lblQuietDays", "on da&ys:");
    auto* times = new QHBoxLayout;
    times->addWidget(lblQuietFrom);
    times->addWidget(dtpQuietFrom);
    times->addWidget(lblQuietTo);
    times->addWidget(dtpQuietTo);
    times->addStretch(1);
    auto* days = new QHBoxLayout;
    days->addWidget(lblQuietDays);
    // The week as the locale starts it, its days by their short names; a
    // box's place in chkQuietDays is its stored bit.
    const QLocale locale;
    const int first = locale.firstDayOfWeek();
    for (int i = 0; i < 7; ++i)
    {
        const int day = (first - 1 + i) % 7 + 1; // Qt's 1 Monday .. 7 Sunday
        QCheckBox*& box = chkQuietDays[static_cast<std::size_t>(day - 1)];
        box = Named(new QCheckBox(locale.dayName(day, QLocale::ShortFormat), g),
                    QStringLiteral("chkQuietDay%1").arg(day).toLatin1().constData());
        KeepUntranslated(box); // the locale's own words
        days->addWidget(box);
        if (i == 0)
            lblQuietDays->setBuddy(box);
    }
    days->addStretch(1);
    // Hours and minutes in the locale's form; the hours hold no seconds.
    QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
    timeFormat.remove(QRegularExpression(QStringLiteral("[:.]ss?")));
    for (QTimeEdit* edit : {dtpQuietFrom, dtpQuietTo})
    {
        edit->setDisplayFormat(timeFormat);
        for (QLineEdit* text : edit->findChildren<QLineEdit*>())
            KeepUntranslated(text); // a time, not a word
    }
    // Until a value is shown: no quiet hours, a night offered, every day.
    grpQuietHours->setChecked(TConfig{}.QuietFrom != TConfig{}.QuietTo);
    dtpQuietFrom->setTime(QTime(0, 0).addSecs(OfferedQuietFrom * 60));
    dtpQuietTo->setTime(QTime(0, 0).addSecs(OfferedQuietTo * 60));
    for (QCheckBox* box : chkQuietDays)
        box->setChecked(true);
    auto* quiet = new QVBoxLayout(g);
    quiet->addLayout(times);
    quiet->addLayout(days);
    chkCommandWhenQuiet = Captioned<QCheckBox>(p, "chkCommandWhenQuiet", "Run the command even &when quiet");

    auto* grid = new QGridLayout(p);
    grid->addWidget(lblNotification, 0, 0, 1, 2);
    grid->addWidget(chkShowForm, 1, 0, 1, 2);
    grid->addWidget(chkSound, 2, 0);
    grid->addLayout(EditRow(txtSound, txtSoundBtn), 2, 1);
    grid->addWidget(chkSilentMode, 3, 0);
    grid->addLayout(EditRow(txtLedActiveTime, spnLedActiveTime), 3, 1);
    grid->addWidget(chkShowIcon, 4, 0);
    grid->addLayout(EditRow(txtShowIcon, txtShowIconBtn), 4, 1);
    grid->addWidget(chkExecute, 5, 0);
    grid->addWidget(txtExecute, 5, 1);
    grid->addWidget(chkShowPreview, 6, 0, 1, 2);
    grid->addWidget(grpQuietHours, 7, 0, 1, 2);
    grid->addWidget(chkCommandWhenQuiet, 8, 0, 1, 2);
    grid->setRowStretch(9, 1);

    connect(txtLedActiveTime, &QLineEdit::textChanged, this, [this] { txtIntervalChange(); });
}

void TfrmSettings::CreateFormOptionsPage()
{
    tabNotifyFormOpt = Named(new QWidget, "tabNotifyFormOpt");
    pagSettings->addTab(tabNotifyFormOpt, QStringLiteral("Form &Options"));
    QWidget* p = tabNotifyFormOpt;

    lblNotifyFormOpt = WrappedLabel(
        p, "lblNotifyFormOpt",
        "You can personalize the notification form by editing the following items.");
    chkAutoHide = Captioned<QCheckBox>(p, "chkAutoHide", "Automatically hide after (seconds):");
    txtAutoHide = Named(new QLineEdit(p), "txtAutoHide");
    spnAutoHide = Named(new TUpDown(txtAutoHide, AutoHideRange.Min, AutoHideRange.Max, 1,
                                    AutoHideRange.Initial, p),
                        "spnAutoHide");
    chkAnimation = Captioned<QCheckBox>(p, "chkAnimation", "Animation file:");
    txtAnimation = Named(new QLineEdit(p), "txtAnimation");
    txtAnimationBtn = BrowseButton(p, "txtAnimationBtn");
    chkStayOnTop = Captioned<QCheckBox>(p, "chkStayOnTop", "Always on top");
    chkSaveDetails = Captioned<QCheckBox>(p, "chkSaveDetails", "Save details state");

    auto* grid = new QGridLayout(p);
    grid->addWidget(lblNotifyFormOpt, 0, 0, 1, 2);
    grid->addWidget(chkAutoHide, 1, 0);
    grid->addLayout(EditRow(txtAutoHide, spnAutoHide), 1, 1);
    grid->addWidget(chkAnimation, 2, 0);
    grid->addLayout(EditRow(txtAnimation, txtAnimationBtn), 2, 1);
    grid->addWidget(chkStayOnTop, 3, 0, 1, 2);
    grid->addWidget(chkSaveDetails, 4, 0, 1, 2);
    grid->setRowStretch(5, 1);

    connect(txtAutoHide, &QLineEdit::textChanged, this, [this] { txtIntervalChange(); });
}

void TfrmSettings::CreateAccountPage()
{
    tabAccount = Named(new QWidget, "tabAccount");
    pagSettings->addTab(tabAccount, QStringLiteral("&Account"));
    QWidget* p = tabAccount;

    grpAccounts = Captioned<QGroupBox>(p, "grpAccounts", "Account &List");
    btnAdd = Captioned<QPushButton>(grpAccounts, "btnAdd", "&Add");
    btnRemove = Captioned<QPushButton>(grpAccounts, "btnRemove", "&Remove");
    btnRename = Captioned<QPushButton>(grpAccounts, "btnRename", "Re&name");
    lvwAccounts = Named(new QTreeWidget(grpAccounts), "lvwAccounts");
    lvwAccounts->setColumnCount(acColumnCount);
    lvwAccounts->setHeaderHidden(true);
    lvwAccounts->setRootIsDecorated(false);
    lvwAccounts->setColumnWidth(acCaption, 170);
    lvwAccounts->setEditTriggers(QAbstractItemView::SelectedClicked |
                                 QAbstractItemView::EditKeyPressed);
    // As high as its buttons beside it: the list scrolls, the page stays small.
    lvwAccounts->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    auto* listBox = new QHBoxLayout(grpAccounts);
    listBox->addWidget(lvwAccounts, 1);
    auto* listButtons = new QVBoxLayout;
    listButtons->addWidget(btnAdd);
    listButtons->addWidget(btnRemove);
    listButtons->addWidget(btnRename);
    listButtons->addStretch(1);
    listBox->addLayout(listButtons);

    grpAccountPop3 = Captioned<QGroupBox>(p, "grpAccountPop3", "Account &Properties");
    QWidget* g = grpAccountPop3;
    lblEmailAddress = Captioned<QLabel>(g, "lblEmailAddress", "&E-mail address:");
    txtEmailAddress = Named(new QLineEdit(g), "txtEmailAddress");
    lblEmailAddress->setBuddy(txtEmailAddress);
    btnFind = Captioned<QPushButton>(g, "btnFind", "&Find");
    lblFindResult = Named(new QLabel(g), "lblFindResult");
    // It shows domain and host names from the network.
    lblFindResult->setTextFormat(Qt::PlainText);
    rdbPop3 = Captioned<QRadioButton>(g, "rdbPop3", "POP3");
    rdbImap4 = Captioned<QRadioButton>(g, "rdbImap4", "IMAP4");
    rdbJmap = Captioned<QRadioButton>(g, "rdbJmap", "JMAP");
    rdbPop3->setChecked(true);
    lblUserName = Captioned<QLabel>(g, "lblUserName", "User Name:");
    txtUserName = Named(new QLineEdit(g), "txtUserName");
    lblPassword = Captioned<QLabel>(g, "lblPassword", "Password:");
    txtPassword = Named(new QLineEdit(g), "txtPassword");
    txtPassword->setEchoMode(QLineEdit::Password);
    lblServer = Captioned<QLabel>(g, "lblServer", "Server:");
    txtHost = Named(new QLineEdit(g), "txtHost");
    lblPort = Captioned<QLabel>(g, "lblPort", "Port:");
    txtPort = Named(new QLineEdit(g), "txtPort");
    lblSecurity = Captioned<QLabel>(g, "lblSecurity", "Security:");
    cboSecurity = Named(new QComboBox(g), "cboSecurity");
    cboSecurity->addItems({QStringLiteral("None"), QStringLiteral("STARTTLS"), QStringLiteral("SSL/TLS")});
    // Created after the security choice: the tab order follows.
    chkPush = Captioned<QCheckBox>(g, "chkPush", "Push new mail (IMAP IDLE)");
    chkPush->setChecked(Account{}.Push);
    btnFolders = Captioned<QPushButton>(g, "btnFolders", "&Folders...");
    chkCheckingTime = Captioned<QCheckBox>(g, "chkCheckingTime", "Own interval (sec.):");
    txtCheckingTime = Named(new QLineEdit(g), "txtCheckingTime");
    spnCheckingTime = IntervalUpDown(txtCheckingTime, g, "spnCheckingTime");
    chkSilent = Captioned<QCheckBox>(g, "chkSilent", "Silent: list new mail, do not announce it");
    lblAccountSound = Captioned<QLabel>(g, "lblAccountSound", "Sound:");
    cboAccountSound = Named(new QComboBox(g), "cboAccountSound");
    // The account's own file, when it has one, is added as the last item.
    cboAccountSound->addItems({QStringLiteral("Common sound"), QStringLiteral("No sound")});
    // A long path must not widen the window.
    cboAccountSound->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cboAccountSound->setMinimumContentsLength(12);
    btnAccountSound = BrowseButton(g, "btnAccountSound");
    chkNotify = Captioned<QCheckBox>(g, "chkNotify", "Desktop notification");
    chkNotify->setChecked(Account{}.Notify);
    lblUrgency = Captioned<QLabel>(g, "lblUrgency", "Urgency:");
    cboUrgency = Named(new QComboBox(g), "cboUrgency");
    cboUrgency->addItems(Items(UrgencyItems));
    cboUrgency->setCurrentIndex(Account{}.Urgency);
    pnlSignIn = Named(new TSignInPanel(g), "pnlSignIn");
    pnlSignIn->SetTokens(FTokens);
    lblPasswordStore = Named(new QLabel(g), "lblPasswordStore");
    lblPasswordStore->setWordWrap(true);
    auto* props = new QGridLayout(g);
    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(txtEmailAddress, 1);
    addressRow->addWidget(btnFind);
    props->addWidget(lblEmailAddress, 0, 0);
    props->addLayout(addressRow, 0, 1);
    props->addWidget(lblFindResult, 1, 0, 1, 2);
    constexpr int r = 2; // the rows below the address
    props->addWidget(rdbPop3, r, 0);
    auto* protocolRow = new QHBoxLayout;
    protocolRow->addWidget(rdbImap4);
    protocolRow->addWidget(rdbJmap);
    protocolRow->addStretch(1);
    props->addLayout(protocolRow, r, 1);
    props->addWidget(lblUserName, r + 1, 0);
    props->addWidget(txtUserName, r + 1, 1);
    props->addWidget(lblPassword, r + 2, 0);
    props->addWidget(txtPassword, r + 2, 1);
    props->addWidget(lblServer, r + 3, 0);
    props->addWidget(txtHost, r + 3, 1);
    // The port beside its security, which moves it, so the push box finds
    // room on the page.
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(txtPort, 1);
    portRow->addSpacing(6);
    portRow->addWidget(lblSecurity);
    portRow->addWidget(cboSecurity, 1);
    props->addWidget(lblPort, r + 4, 0);
    props->addLayout(portRow, r + 4, 1);
    auto* pushRow = new QHBoxLayout;
    pushRow->addWidget(chkPush, 1);
    pushRow->addWidget(btnFolders);
    props->addLayout(pushRow, r + 5, 0, 1, 2);
    auto* paceRow = new QHBoxLayout;
    paceRow->addWidget(chkCheckingTime);
    paceRow->addLayout(EditRow(txtCheckingTime, spnCheckingTime), 1);
    props->addLayout(paceRow, r + 6, 0, 1, 2);
    props->addWidget(chkSilent, r + 7, 0, 1, 2);
    props->addWidget(lblAccountSound, r + 8, 0);
    props->addLayout(EditRow(cboAccountSound, btnAccountSound), r + 8, 1);
    auto* notifyRow = new QHBoxLayout;
    notifyRow->addWidget(chkNotify, 1);
    notifyRow->addWidget(lblUrgency);
    notifyRow->addWidget(cboUrgency);
    props->addLayout(notifyRow, r + 9, 0, 1, 2);
    props->addWidget(lblPasswordStore, r + 10, 0, 1, 2);
    props->addWidget(pnlSignIn, r + 11, 0, 1, 2);

    auto* page = new QVBoxLayout(p);
    page->addWidget(grpAccounts, 1);
    page->addWidget(grpAccountPop3);
}

void TfrmSettings::CreateRulesPage()
{
    tabRules = Named(new QWidget, "tabRules");
    pagSettings->addTab(tabRules, QStringLiteral("R&ules"));
    QWidget* p = tabRules;

    lblRules = WrappedLabel(p, "lblRules",
                            "Ru&les, in order: the first that matches a new message decides how it is told.");
    FRules = new TRuleListModel(this);
    lvwRules = Named(new QListView(p), "lvwRules");
    lvwRules->setModel(FRules);
    lvwRules->setUniformItemSizes(true);
    lvwRules->setSelectionMode(QAbstractItemView::SingleSelection);
    lvwRules->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvwRules->setTextElideMode(Qt::ElideMiddle);
    // A bad rule's mark no taller than a line of text, as every row is
    // laid out like the first.
    const int mark = lvwRules->fontMetrics().height();
    lvwRules->setIconSize(QSize(mark, mark));
    // As high as its buttons beside it: the list scrolls, the page stays small.
    lvwRules->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    lblRules->setBuddy(lvwRules);
    btnRuleAdd = Captioned<QPushButton>(p, "btnRuleAdd", "&Add");
    btnRuleEdit = Captioned<QPushButton>(p, "btnRuleEdit", "&Edit...");
    btnRuleRemove = Captioned<QPushButton>(p, "btnRuleRemove", "&Remove");
    btnRuleUp = Captioned<QPushButton>(p, "btnRuleUp", "U&p");
    btnRuleDown = Captioned<QPushButton>(p, "btnRuleDown", "Do&wn");
    lblRuleProblem = Named(new QLabel(p), "lblRuleProblem");
    lblRuleProblem->setTextFormat(Qt::PlainText); // it quotes the rule
    lblRuleProblem->setWordWrap(true);
    lblRuleProblem->hide();

    auto* buttons = new QVBoxLayout;
    for (QPushButton* button : {btnRuleAdd, btnRuleEdit, btnRuleRemove, btnRuleUp, btnRuleDown})
        buttons->addWidget(button);
    buttons->addStretch(1);
    auto* list = new QHBoxLayout;
    list->addWidget(lvwRules, 1);
    list->addLayout(buttons);
    auto* page = new QVBoxLayout(p);
    page->addWidget(lblRules);
    page->addLayout(list, 1);
    page->addWidget(lblRuleProblem);
}

void TfrmSettings::FormCreate()
{
    TranslateComponent(this);
}

void TfrmSettings::btnDefaultClick()
{
    if (OnRestoreDefaults)
        OnRestoreDefaults();
    // The window stays open: its ticks follow the restored values.
    if (isVisible())
        FormShow();
}

void TfrmSettings::txtIntervalChange()
{
    const int interval = spnInterval->Position();
    spnLedActiveTime->SetMax(interval);
    spnAutoHide->SetMax(interval);
    // An account without an interval of its own shows the common one.
    if (Accounts)
        Accounts->ShowCheckingTime();
}

void TfrmSettings::closeEvent(QCloseEvent* event)
{
    const bool canClose = OnCloseQuery ? OnCloseQuery() : true;
    if (!canClose)
    {
        event->ignore();
        return;
    }
    if (OnClose)
        OnClose();
    event->accept();
}
