#include "notify/NewMailController.h"

#include "check/CheckRules.h"
#include "check/ExpandCommand.h"
#include "check/MessageList.h"
#include "check/Utils.h"
#include "i18n/Translate.h"
#include "notify/DeleteRun.h"
#include "notify/MessageListRenderer.h"
#include "notify/NewMailForm.h"
#include "platform/CodePage.h"
#include "desktop/Dialogs.h"
#include "platform/Exception.h"
#include "platform/Process.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QTreeWidget>

#include <utility>

namespace
{

// A reader that cannot be started is ignored, as a mail client is.
void RunAndWaitDefault(const std::vector<std::string>& arguments, const std::string& folder)
{
    RunProgram(arguments, folder, -1);
}

} // namespace

TNewMailController::TNewMailController(TfrmNewMail& form, TNewMailEnvironment environment)
    : QObject(&form), FForm(form), FEnv(std::move(environment))
{
    if (!FEnv.StartProcess)
        FEnv.StartProcess = [](const std::string& line, int16_t show, int wait) {
            return ::StartProcess(line, show, wait);
        };
    if (!FEnv.RunAndWait)
        FEnv.RunAndWait = RunAndWaitDefault;
    if (!FEnv.StartArguments)
        FEnv.StartArguments = [](const std::vector<std::string>& arguments) {
            return RunProgram(arguments, {}, 0);
        };

    FRows = &form.Rows();

    // The checkable action has flipped its tick before it reports the
    // trigger; the handler reverses the tick itself, from where it stood.
    connect(form.actDetails, &QAction::triggered, this, [this] {
        FForm.actDetails->setChecked(!FForm.actDetails->isChecked());
        actDetailsExecute();
    });
    connect(form.actRead, &QAction::triggered, this, [this] { actReadExecute(); });
    connect(form.actDelete, &QAction::triggered, this, [this] { actDeleteExecute(); });
    connect(form.actRefresh, &QAction::triggered, this, [this] { actRefreshExecute(); });
    connect(form.actMailbox, &QAction::triggered, this, [this] { actMailboxExecute(); });
    connect(form.timShowing, &QTimer::timeout, this, [this] { timShowingTimer(); });

    // The window sees keys before its controls: Esc and Enter close it even
    // when the list has the focus.
    const auto shortcut = [this](const QKeySequence& key, auto handler) {
        auto* s = new QShortcut(key, &FForm); // owned by the window
        s->setContext(Qt::WidgetWithChildrenShortcut);
        connect(s, &QShortcut::activated, this, handler);
    };
    shortcut(QKeySequence(Qt::Key_Escape), [this] { btnOkClick(); });
    shortcut(QKeySequence(Qt::Key_Return), [this] { EnterPressed(); });
    shortcut(QKeySequence(Qt::Key_Enter), [this] { EnterPressed(); });

    // The update handlers run when the selection or the rows change, and
    // whenever the program is about to go idle. Each change connection lives
    // only as long as the action it updates: the list outlives the actions
    // while the window is torn down, and still reports its rows going.
    const auto follow = [this](QAction* action, void (TNewMailController::*update)()) {
        const auto run = [this, update] { (this->*update)(); };
        QAbstractItemModel* model = FForm.lvwMessages->model();
        connect(FForm.lvwMessages, &QTreeWidget::itemSelectionChanged, action, run);
        connect(model, &QAbstractItemModel::rowsInserted, action, run);
        connect(model, &QAbstractItemModel::rowsRemoved, action, run);
        connect(model, &QAbstractItemModel::modelReset, action, run);
    };
    follow(form.actRead, &TNewMailController::actReadUpdate);
    follow(form.actDelete, &TNewMailController::actDeleteUpdate);
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] { UpdateActions(); });

    form.installEventFilter(this);
    // A double click anywhere in the list counts, also below the last row.
    FViewport = form.lvwMessages->viewport();
    FViewport->installEventFilter(this);
    UpdateActions();
}

TNewMailController::~TNewMailController()
{
    if (FViewport)
        FViewport->removeEventFilter(this);
}

bool TNewMailController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &FForm)
    {
        // Spontaneous shows are the window manager restoring the window, not
        // the window becoming visible.
        if (event->type() == QEvent::Show && !event->spontaneous())
            FormShow();
        else if (event->type() == QEvent::Close)
            FormClose();
    }
    // The list's viewport is compared by address only: while the window is
    // torn down the list still sends events, and the window's members are gone.
    else if (watched == FViewport && event->type() == QEvent::MouseButtonDblClick)
    {
        // The view has handled the first click already, so the row under
        // the pointer is selected by now.
        lvwMessagesDblClick();
    }
    return QObject::eventFilter(watched, event);
}

void TNewMailController::UpdateActions()
{
    actDetailsUpdate();
    actReadUpdate();
    actDeleteUpdate();
}

void TNewMailController::actDetailsUpdate()
{
    if (FForm.btnDetails->isChecked() != FForm.actDetails->isChecked())
        FForm.btnDetails->setChecked(FForm.actDetails->isChecked());
}

void TNewMailController::actReadUpdate()
{
    FForm.actRead->setEnabled(!FBusy && !FForm.lvwMessages->selectedItems().isEmpty());
}

void TNewMailController::actDeleteUpdate()
{
    FForm.actDelete->setEnabled(!FBusy && !FForm.lvwMessages->selectedItems().isEmpty());
}

void TNewMailController::FormShow()
{
    actDetailsUpdate();
    QTreeWidget& list = *FForm.lvwMessages;
    if (list.topLevelItemCount() > 0)
    {
        list.topLevelItem(0)->setSelected(true);
        if (list.isVisibleTo(&FForm) && list.isEnabled())
            list.setFocus();
    }
    // An auto-hide time of 0 seconds means never: the timer would otherwise
    // fire at once and close the window that was just shown.
    if (FEnv.AutoHide && FEnv.AutoHide() && FEnv.AutoHideSeconds && FEnv.AutoHideSeconds() > 0)
    {
        FForm.timShowing->setInterval(FEnv.AutoHideSeconds() * 1000);
        FForm.timShowing->start();
    }
    UpdateActions();
}

void TNewMailController::FormClose()
{
    FForm.timShowing->stop();
}

void TNewMailController::btnOkClick()
{
    FForm.close();
}

void TNewMailController::timShowingTimer()
{
    // Also stops the timer when Read has hidden the window already.
    FForm.close();
}

void TNewMailController::EnterPressed()
{
    if (auto* button = qobject_cast<QAbstractButton*>(FForm.focusWidget()))
        if (button != FForm.btnOk && button->isEnabled())
        {
            button->click();
            return;
        }
    btnOkClick();
}

void TNewMailController::actDetailsExecute()
{
    FForm.EnsureSized();
    const bool shown = !FForm.actDetails->isChecked();
    FForm.actDetails->setChecked(shown);
    FForm.panDetails->setVisible(shown);
    const int width = FForm.width();
    const int height = FForm.panTitle->height() + FForm.panComment->height() + (shown ? DetailsHeight : 0);
    if (shown)
    {
        FForm.setMinimumSize(TfrmNewMail::DesignedMinimum);
        FForm.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        FForm.resize(width, height);
    }
    else
    {
        // A fixed dialog frame: the user cannot resize it.
        FForm.setFixedSize(width, height);
    }
    actDetailsUpdate();
}

void TNewMailController::actMailboxExecute()
{
    StartMailClient(nullptr);
}

void TNewMailController::OpenMessage(const TRowValues& message)
{
    StartMailClient(&message);
}

void TNewMailController::StartMailClient(const TRowValues* message)
{
    const std::string command = FEnv.EmailClient();
    if (!NamesMessage(command))
        FEnv.StartProcess(command, 1, 0);
    else if (const std::vector<std::string> arguments =
                 message ? MailClientArguments(command, *message) : MailClientArguments(command);
             !arguments.empty())
        FEnv.StartArguments(arguments);
    // A plain hide: a running auto-hide timer closes the hidden window later.
    FForm.hide();
    if (FEnv.HideNewMailIcon)
        FEnv.HideNewMailIcon();
}

void TNewMailController::lvwMessagesDblClick()
{
    if (FForm.lvwMessages->selectedItems().isEmpty())
        return;
    // The row double-clicked is the one opened, where the command can name it.
    const QTreeWidget& list = *FForm.lvwMessages;
    QTreeWidgetItem* current = list.currentItem();
    const int row = current && current->isSelected() ? list.indexOfTopLevelItem(current) : SelectedIndex();
    if (row >= 0 && row < FRows->Count() && FRows->ImageIndex(row) != riError && NamesMessage(FEnv.EmailClient()) && FEnv.Accounts)
    {
        const TRowValues values = RowValues(*FRows, AccountPlaces(FEnv.Accounts()), row, false);
        OpenMessage(values);
        return;
    }
    FForm.actMailbox->trigger();
}

bool TNewMailController::CheckDeletable(const std::vector<Account>& accounts,
                                        const std::vector<TRowPlace>& places)
{
    std::string imapCaption;
    bool orphan = false;
    for (int i = 0; i < FRows->Count(); ++i)
    {
        if (!FForm.View().Selected(i) || FRows->ImageIndex(i) == riError)
            continue;
        const int account = AccountNumberOfRow(*FRows, places, i) - 1;
        if (account >= static_cast<int>(accounts.size()))
            orphan = true;
        else if ((accounts[account].JMAP ? !FEnv.jmapMail : accounts[account].IMAP4 && !FEnv.imaMail) &&
                 !FEnv.DeleteBeside && imapCaption.empty())
            imapCaption = accounts[account].Caption;
    }
    if (imapCaption.empty() && !orphan)
        return true;

    TMessageRequest request;
    request.Type = TMsgDlgType::mtWarning;
    request.Buttons = mbOK;
    if (!imapCaption.empty())
        request.Text = FormatOne(ResStr("The messages of the IMAP4 account \"%s\" cannot be deleted "
                                        "from here.\nNothing has been deleted."),
                                 "%s", imapCaption);
    else
        request.Text = ResStr("A selected message belongs to an account that is no longer in the "
                              "account list.\nNothing has been deleted.");
    MessageDlg(&FForm, request);
    return false;
}

void TNewMailController::actDeleteExecute()
{
    if (FBusy)
        return;
    // Rows Delete cannot serve are refused before anything is asked or sent.
    TDeletePlan plan;
    plan.Accounts = FEnv.Accounts();
    const std::vector<TRowPlace> places = AccountPlaces(plan.Accounts);
    if (!CheckDeletable(plan.Accounts, places))
        return;

    TMessageRequest question;
    question.Text = ResStr("Are you sure you want to delete the selected messages?");
    question.Type = TMsgDlgType::mtConfirmation;
    question.Buttons = mbYes | mbNo;
    if (MessageDlg(&FForm, question) != TModalResult::mrYes)
        return;

    for (int i = 0; i < FRows->Count(); ++i)
        if (FForm.View().Selected(i) && FRows->ImageIndex(i) != riError)
            plan.Targets.push_back(TargetOfRow(*FRows, places, i));

    const int remembered = SelectedIndex();
    SetBusy(true);
    if (!FEnv.DeleteBeside)
    {
        Deleted(DeleteTargets(plan, [this](TMailProtocol protocol) -> TDeleteClient& {
                    return protocol == mpJmap ? *FEnv.jmapMail : protocol == mpImap4 ? *FEnv.imaMail : *FEnv.popMail;
                }),
                remembered);
        return;
    }
    FEnv.DeleteBeside(std::move(plan), [self = QPointer<TNewMailController>(this), remembered](TDeleteOutcome outcome) {
        if (self)
            self->Deleted(std::move(outcome), remembered);
    });
}

void TNewMailController::Deleted(TDeleteOutcome outcome, int remembered)
{
    if (outcome.Failure)
    {
        // The toolkit's error box tells of it; the list stays as it was.
        SetBusy(false);
        std::rethrow_exception(outcome.Failure);
    }
    // A row whose message changed on the server since the check (another
    // client deleted or read mail) would make its number stand for another
    // message: such rows were passed over, not deleted.
    if (!outcome.Skipped.empty())
    {
        std::string list;
        for (const std::string& line : outcome.Skipped)
            list += "\n" + line;
        TMessageRequest warning;
        warning.Type = TMsgDlgType::mtWarning;
        warning.Buttons = mbOK;
        warning.Text = FormatOne(ResStr("These messages were not deleted, because the mailbox has changed "
                                        "since the last check:%s"),
                                 "%s", list);
        MessageDlg(&FForm, warning);
    }
    if (outcome.LeftMarked)
    {
        TMessageRequest note;
        note.Type = TMsgDlgType::mtInformation;
        note.Buttons = mbOK;
        note.Text = ResStr("The server cannot remove single messages at once: the messages are marked as "
                           "deleted and are removed when a mail client compacts the mailbox.");
        MessageDlg(&FForm, note);
    }
    if (!FEnv.CheckOnly)
    {
        SetBusy(false);
        actRefreshExecute();
        return;
    }
    if (!outcome.Touched.empty())
        FEnv.CheckOnly(outcome.Touched);
    const auto reloaded = [self = QPointer<TNewMailController>(this), remembered] {
        if (!self)
            return;
        self->SetBusy(false);
        self->Reloaded(remembered);
    };
    if (FEnv.AfterChecks)
        FEnv.AfterChecks(reloaded);
    else
        reloaded();
}

void TNewMailController::SetBusy(bool busy)
{
    FBusy = busy;
    if (busy)
        FForm.setCursor(Qt::BusyCursor);
    else
        FForm.unsetCursor();
    FForm.actRefresh->setEnabled(!busy);
    FForm.actMailbox->setEnabled(!busy);
    UpdateActions();
}

int TNewMailController::SelectedIndex() const
{
    const QTreeWidget& list = *FForm.lvwMessages;
    for (int i = 0; i < list.topLevelItemCount(); ++i)
        if (list.topLevelItem(i)->isSelected())
            return i;
    return 0;
}

void TNewMailController::actRefreshExecute()
{
    if (FBusy)
        return;
    const int remembered = SelectedIndex();
    FRows->Clear();
    TMessageRow reloading;
    reloading.Caption = ResStr("Reloading messages list...");
    reloading.ImageIndex = riMessage;
    FRows->Append(reloading);
    QCoreApplication::processEvents();

    if (FEnv.CheckNow)
        FEnv.CheckNow();
    if (FEnv.AfterChecks)
        FEnv.AfterChecks([self = QPointer<TNewMailController>(this), remembered] {
            if (self)
                self->Reloaded(remembered);
        });
    else
        Reloaded(remembered);
}

void TNewMailController::Reloaded(int remembered)
{
    QTreeWidget& list = *FForm.lvwMessages;
    const int count = list.topLevelItemCount();
    if (count == 0)
    {
        FForm.hide();
        return;
    }
    list.clearSelection();
    QTreeWidgetItem* item = list.topLevelItem(remembered < count ? remembered : count - 1);
    item->setSelected(true);
    list.scrollToItem(item);
    if (list.isVisibleTo(&FForm) && list.isEnabled())
    {
        list.setCurrentItem(item, 0, QItemSelectionModel::NoUpdate);
        list.setFocus();
    }
    UpdateActions();
}

void TNewMailController::actReadExecute()
{
    // Each reader is followed by a reload that rebuilds the list, so the
    // selected rows are read once, before the first reader starts.
    const std::vector<TRowPlace> places = AccountPlaces(FEnv.Accounts());
    const std::string reader = FEnv.ReaderCommand ? FEnv.ReaderCommand() : std::string();
    auto readings = std::make_shared<std::vector<TReading>>();
    for (int i = 0; i < FRows->Count(); ++i)
    {
        if (!FForm.View().Selected(i))
            continue;
        if (FRows->ImageIndex(i) == riError)
        {
            readings->push_back({true, {}, {}});
            continue;
        }
        const TExpandedCommand command = ExpandCommandParts(reader, RowValues(*FRows, places, i, UsesPreview(reader)));
        readings->push_back({false, command.Arguments(), StartFolderOf(command.Text)});
    }
    ReadFrom(readings, 0, false);
}

void TNewMailController::ReadFrom(std::shared_ptr<const std::vector<TReading>> readings, std::size_t next,
                                  bool started)
{
    for (; next < readings->size(); ++next)
    {
        const TReading& reading = (*readings)[next];
        if (reading.ErrorRow)
        {
            TMessageRequest warning;
            warning.Text = ResStr("The selected row is not a message!\nThis row notify you that this "
                                  "account does not work properly.\nCheck the account configuration "
                                  "to solve this problem.");
            warning.Type = TMsgDlgType::mtWarning;
            warning.Buttons = mbOK;
            MessageDlg(&FForm, warning);
            continue;
        }
        started = true;
        if (!FEnv.RunBeside)
        {
            FEnv.RunAndWait(reading.Arguments, reading.Folder);
            continue;
        }
        // The wait on the reader runs beside; the next row follows it.
        FEnv.RunBeside([run = FEnv.RunAndWait, reading] { run(reading.Arguments, reading.Folder); },
                       [self = QPointer<TNewMailController>(this), readings, next] {
                           if (self)
                               self->ReadFrom(readings, next + 1, true);
                       });
        return;
    }
    if (started)
        actRefreshExecute();
}
