#pragma once

#include <QObject>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Which account a secret belongs to: what identifies it on its server, never
// its caption. UTF-8.
struct TSecretKey
{
    std::string Protocol; // "pop3" or "imap"
    std::string Host;
    std::string Port;
    std::string User;
    // Empty: the account's password. Else a token of this kind, kept apart
    // from the password under the same four values.
    std::string Kind;

    bool operator==(const TSecretKey&) const = default;
    auto operator<=>(const TSecretKey&) const = default;
};

enum class TSecretStatus
{
    Done,        // read (Secret holds it), kept, deleted, or the keyring answered
    Missing,     // nothing is kept under the key
    Unavailable, // no keyring here: no session bus, no Secret Service, no collection
    Refused,     // the keyring stayed locked
    Failed,      // anything else; Message says what
};

struct TSecretReply
{
    TSecretStatus Status = TSecretStatus::Failed;
    std::string Secret; // UTF-8
    std::string Message;
};

using TSecretCallback = std::function<void(const TSecretReply&)>;

// The desktop keyring (the freedesktop Secret Service) as an asynchronous
// store of passwords. Every request answers once, through the event loop of
// the thread the store lives in, never inside the call; nothing waits for
// the keyring. The requests go to a helper process (keyring/KeyringProtocol.h)
// started with the first one and ended after the last answer. Without a
// session bus every request answers Unavailable at once, and no helper
// starts.
class TSecretStore : public QObject
{
    Q_OBJECT
public:
    enum class TPresence
    {
        Unknown, // nothing asked yet
        Present, // a keyring answered
        Absent,  // none: passwords stay in the hive
    };

    explicit TSecretStore(QObject* parent = nullptr);
    ~TSecretStore() override;

    void Read(const TSecretKey& key, TSecretCallback done);
    // label: the item's name in the keyring's own window.
    void Write(const TSecretKey& key, const std::string& label, const std::string& secret, TSecretCallback done);
    void Delete(const TSecretKey& key, TSecretCallback done);
    // Asks whether a keyring answers, without reading or keeping anything.
    void Probe(TSecretCallback done);

    // What the answers so far said; an Unavailable answer makes it Absent
    // for the rest of the run.
    TPresence Presence() const { return FPresence; }
    // Called when Presence changes.
    std::function<void()> OnPresenceChanged;

    // Where the helper is looked for instead of the executable's folder; for
    // programs built apart from it (the tests).
    static void SetHelperFolder(const std::string& folder);
    // How many helpers this store has started.
    int HelpersStarted() const { return FStarted; }

private:
    struct THelper;
    void Submit(int operation, const TSecretKey& key, const std::string& label, const std::string& secret,
                TSecretCallback done);
    void Answer(unsigned id, const TSecretReply& reply);
    void SetPresence(TPresence presence);
    THelper* Helper();
    void HelperOutput(THelper* helper);
    void HelperEnded(THelper* helper, const std::string& why);

    std::vector<std::unique_ptr<THelper>> FHelpers; // the last one takes new requests
    int FStarted = 0;
    std::map<unsigned, TSecretCallback> FWaiting;
    unsigned FNextId = 1;
    TPresence FPresence = TPresence::Unknown;
};

// Whether the environment names a session bus that may be there: its
// address is set, and a unix socket path in it exists.
bool SessionBusNamed();
