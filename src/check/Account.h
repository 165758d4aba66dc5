#pragma once

#include <string>
#include <vector>

// How an account's connection is secured. The numbers are what the hive
// stores; an absent value is asNone.
enum TAccountSecurity
{
    asNone = 0,      // plain text, the port as given
    asStartTLS = 1,  // STLS / STARTTLS before the login; never without it
    asImplicitTLS = 2 // TLS from the first byte (995, 993)
};

// How an account logs in. The numbers are what the hive stores.
enum TAccountAuthentication
{
    aaPassword = 0,
    aaOAuth2 = 1,
    // A JMAP account's API token, stored as its password and sent as a
    // bearer token.
    aaBearer = 2
};

// A value of an account's key that could not be read: stored by hand with
// another type. The account holds its default in its place.
struct TUnreadValue
{
    std::string Name;    // as the hive names it: "HostPort"
    std::string Problem; // what is wrong, shown as the account's error row
    int Key = 0;         // the account number it was read under

    bool operator==(const TUnreadValue&) const = default;
};

// A folder of an IMAP4 account as its "Folders" sub-key lists it: the name
// as the server lists it (decoded, its hierarchy delimiter kept) and whether
// it is watched.
struct TAccountFolder
{
    std::string Name;
    bool Watched = false;

    bool operator==(const TAccountFolder&) const = default;
};

// One configured mailbox. Texts are 8-bit desktop text.
struct Account
{
    std::string Caption = "My Account";
    bool Enabled = true;
    std::string UserName = "User Name";
    std::string Password;
    std::string Host = "POP3 Server";
    std::string Port = "110"; // decimal text; converted when the account is checked
    bool IMAP4 = false;
    TAccountSecurity Security = asNone;
    // IMAP4: keep a session in IDLE where the server offers it, so new mail
    // is heard of at once instead of at the next check.
    bool Push = true;
    // Seconds between two checks of this account; 0: the common interval.
    int CheckingTime = 0;
    // New mail is listed and counted, never announced.
    bool Silent = false;
    // Its own voice: a wave file ("" the common sound, "-" none), whether
    // its mail gets a desktop notification, and that notification's
    // urgency (0 low, 1 normal, 2 critical).
    std::string Sound{};
    bool Notify = true;
    int Urgency = 1;
    // How the account logs in. The numbers are what the hive stores.
    TAccountAuthentication Authentication = aaPassword;
    std::string OAuth2Issuer{};   // the authorization server's issuer URL
    std::string OAuth2ClientId{}; // empty: the build's default for the provider
    std::string OAuth2Scope{};    // space-separated; empty: the provider's default
    // Speaks JMAP over HTTP: Host is the server's host or its session
    // resource's URL; IMAP4 and Port are then not used. (Kept
    // here, past the fields that tests set in order.)
    bool JMAP = false;
    // The address Find looked the servers up for; kept to look them up again.
    std::string EmailAddress{};
    // IMAP4: the folders the account's "Folders" sub-key lists; none
    // watched means the inbox only.
    std::vector<TAccountFolder> Folders{};
    // Values the load could not read. The account is not checked while one
    // is left, and a save leaves them as stored; editing the field drops it.
    std::vector<TUnreadValue> Unreadable{};

    bool operator==(const Account&) const = default;
};

// What an account speaks; the numbers index the clients kept per protocol.
enum TMailProtocol
{
    mpPop3 = 0,
    mpImap4 = 1,
    mpJmap = 2
};
constexpr int MailProtocolCount = 3;
TMailProtocol ProtocolOf(const Account& account);

// The account's protocol as one word: "jmap", "imap4" or "pop3".
const char* ProtocolWord(const Account& account);

// The folders an account's check reads, in the list's order: its watched
// ones (the inbox first where it is among them), else the inbox alone.
std::vector<std::string> WatchedFolders(const Account& account);

// The port a security kind moves a well-known port to: 110 and 995, 143 and
// 993 are partners; any other port stays as it is.
std::string PartnerPort(const std::string& port, TAccountSecurity security);

// Per account, milliseconds between two of its checks: its own interval,
// else `common` (seconds). One switched off keeps the common one: it is not
// checked, and so wakes nobody early.
std::vector<int> CheckIntervals(const std::vector<Account>& accounts, int common);
