#pragma once

#include "check/Account.h"
#include "notify/DeleteClient.h"

#include <QObject>
#include <QPointer>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class TfrmNewMail;
class TMessageList;
struct TRowPlace;
struct TDeletePlan;
struct TDeleteOutcome;

// What the notification window needs from the rest of the program. Every
// value is read from the configuration at the moment it is used, so an OK in
// the settings window reaches the next action.
struct TNewMailEnvironment
{
    std::function<std::vector<Account>()> Accounts;
    std::function<std::string()> EmailClient;
    std::function<bool()> AutoHide;
    std::function<int()> AutoHideSeconds;
    std::function<std::string()> ReaderCommand;
    // Empties the list and runs a whole check cycle ("&Check now").
    std::function<void()> CheckNow;
    // Runs `then` once the checks CheckNow started have ended (they run
    // beside the user interface); without it CheckNow is taken as done.
    std::function<void(std::function<void()> then)> AfterChecks;
    std::function<void()> HideNewMailIcon;     // triNewMsg
    // Delete's clients where it runs here; without imaMail (jmapMail), and
    // without DeleteBeside, the rows of IMAP4 (JMAP) accounts are refused.
    TDeleteClient* popMail = nullptr;
    TDeleteClient* imaMail = nullptr;
    TDeleteClient* jmapMail = nullptr;
    // Runs a Delete beside the user interface, then `done` with what it did
    // back on this thread; without it the plan runs here, on the clients
    // above, and the window waits.
    std::function<void(TDeletePlan plan, std::function<void(TDeleteOutcome)> done)> DeleteBeside;
    // After a Delete, checks only the accounts it touched (indexes in
    // Accounts()), the other rows left as they are; without it the whole
    // list is reloaded as Refresh does it.
    std::function<void(std::vector<int> accounts)> CheckOnly;
    // Runs `work` beside the user interface, then `done` on this thread;
    // without it both run here, in turn (Quick View's wait on its reader).
    std::function<void(std::function<void()> work, std::function<void()> done)> RunBeside;

    // Process starts; by default the platform's. StartProcess takes a command
    // line, a show mode and a wait time in ms (0: no wait); RunAndWait an
    // argument vector (no shell) in a working folder, waiting without limit.
    std::function<bool(const std::string&, int16_t, int)> StartProcess;
    std::function<void(const std::vector<std::string>&, const std::string&)> RunAndWait;
    // The mail client started as arguments (no shell, no wait), where its
    // command names a message; by default the platform's.
    std::function<bool(const std::vector<std::string>&)> StartArguments;
};

struct TRowValues;

// The behaviour of the notification window: its actions, its showing and
// closing, the details fold and the keys. Owned by the window it serves.
class TNewMailController : public QObject
{
    Q_OBJECT
public:
    TNewMailController(TfrmNewMail& form, TNewMailEnvironment environment);
    ~TNewMailController() override;

    void FormShow();
    void FormClose();
    void btnOkClick();
    void timShowingTimer();
    void actDetailsExecute();
    void actMailboxExecute();
    void lvwMessagesDblClick();
    void actDeleteExecute();
    void actRefreshExecute();
    void actReadExecute();
    // The mail client on one message (its command's %MESSAGEID% and
    // %FOLDER%), then as Read: the window and the new-mail icon hidden.
    void OpenMessage(const TRowValues& message);

    void actDetailsUpdate();
    void actReadUpdate();
    void actDeleteUpdate();

    // Height of the details when they are shown, added to the fixed parts.
    static constexpr int DetailsHeight = 200;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Starts the mail client on `message`, or on none in particular.
    void StartMailClient(const TRowValues* message);
    // Enter presses the button that has the focus, otherwise Ok.
    void EnterPressed();
    void UpdateActions();
    // After a reload: the remembered row selected again, or the window hidden.
    void Reloaded(int remembered);
    // Refuses a selection Delete cannot serve; true when it may go on.
    bool CheckDeletable(const std::vector<Account>& accounts, const std::vector<TRowPlace>& places);
    // What a Delete did, told, then the accounts it touched reloaded.
    void Deleted(TDeleteOutcome outcome, int remembered);
    // While a Delete runs the window's actions are off, under a busy cursor.
    void SetBusy(bool busy);
    int SelectedIndex() const;
    // Quick View of one selected row: a warning for an error row, else the
    // reader's command and the folder it starts in.
    struct TReading
    {
        bool ErrorRow = false;
        std::vector<std::string> Arguments;
        std::string Folder;
    };
    // Reads the rows from `next` on, one reader after another.
    void ReadFrom(std::shared_ptr<const std::vector<TReading>> readings, std::size_t next, bool started);

    TfrmNewMail& FForm;
    TNewMailEnvironment FEnv;
    TMessageList* FRows;
    QPointer<QObject> FViewport;
    bool FBusy = false;
};
