#pragma once

#include "check/Account.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TConfig;
class TRegistry;

// Where the configuration lives in the per-user hive.
inline constexpr const char* ConfigKey = "Software\\ternbell";
// Account i (from 1) is stored under ConfigKey + "\Account" + i.
std::string AccountKey(int number);

// Start-up defaults, computed once at start.
// Texts are 8-bit desktop text.
extern std::string DefaultSoundFile;
extern std::string DefaultIconFile;
extern std::string DefaultAnimationFile;
// The reader program beside the executable is "ternview" (no .exe here);
// its command line is not the default of any stored value.
extern std::string ReaderCommand;
extern std::string DefaultEmailClient;

// The last load ran to its end, so the configuration holds what is stored
// and may be saved over it. A load that failed leaves it false: saving then would
// replace stored values with ones that were never read.
extern bool SettingsLoaded;
// A larger "AccountsNo" is refused: it is a damaged file, not a setup.
inline constexpr int32_t MaxAccounts = 1000;
// The sub-key of an account's key that lists its IMAP4 folders, and the
// most of them a load reads.
inline constexpr const char* FoldersSubKey = "Folders";
inline constexpr std::size_t MaxAccountFolders = 10000;
// The sub-key of the main key that holds the rules, and the most of them a
// load reads: matching costs per rule for every new message, and a list
// longer than this is a damaged or generated file, not a person's.
inline constexpr const char* RulesSubKey = "Rules";
inline constexpr std::size_t MaxRules = 1000;
// What the last load passed over and why, one line each (a value that
// cannot be used, rules beyond MaxRules); translated desktop text.
extern std::vector<std::string> LoadNotes;

// Fills the start-up defaults from the executable's folder and the desktop's
// default mail client, in that order.
void ComputeStartupDefaults();
// The open command of the desktop's default mail client, or "".
std::string ReadDefaultEmailClient();

// The value a first load stores: the value type's own defaults, with the
// start-up defaults for the files and the mail client, and the stored
// column widths.
TConfig StoredDefaults();
// A stored number as a security kind; numbers this program does not know
// are asNone.
TAccountSecurity SecurityOfNumber(long long number);
// A stored number as a login kind; numbers this program does not know are a
// password login.
TAccountAuthentication AuthenticationOfNumber(long long number);
// The name an account's field is stored under ("HostPort" for the port).
const char* AccountValueName(std::string Account::*field);
const char* AccountValueName(bool Account::*field);
const char* AccountValueName(int Account::*field);
// Whether the account's field stored under the value name ("HostPort")
// holds the account default.
bool HoldsDefault(const Account& account, const std::string& valueName);

// Read a value of the open key; when it is missing, write the default with
// the value's type and return the default.
std::string ReadOrCreateString(TRegistry& reg, const std::string& name, const std::string& def);
int32_t ReadOrCreateInteger(TRegistry& reg, const std::string& name, int32_t def);
bool ReadOrCreateBool(TRegistry& reg, const std::string& name, bool def);

// Registry -> configuration, value by value in the stored order, creating
// each missing value with its default. Stops at the first error: `config`
// then holds what was read before it and keeps the rest as it was. The
// column widths are checked against the notification window's
// `columnCount`. Returns whether the main key existed before.
bool LoadConfig(TConfig& config, int columnCount);
// Configuration -> registry. Account keys numbered above the new count are
// left alone, and so is a value an account could not read where it was read.
void SaveConfig(const TConfig& config);
// What the program changed since `base` (`mine`) over what the hive holds
// now (`stored`, read again after a hand edit): a setting the program
// changed keeps its change, the others take the stored value. The accounts
// are the stored ones while the program changed none; otherwise the
// program's, each one it left as it was taking the stored version, and the
// accounts stored beyond those it loaded appended. The notification
// window's widths and fold are the program's. `fromMine` (optional) gets,
// per account, its index in `mine`, or -1 where it is the stored one.
TConfig MergeConfig(const TConfig& base, const TConfig& mine, const TConfig& stored,
                    std::vector<int>* fromMine = nullptr);
// Empties the stored "UserPassword" of every account key that stands for the
// account (protocol, host, port, user name) and still holds its password,
// once the keyring keeps it. A hive that cannot be read is left alone.
void EmptyStoredPassword(const Account& account);
// Deletes the stored settings the Default button restores (not the required
// priority, the account count or the accounts); the next load stores their
// defaults again.
void DeleteDefaultSettings();

// Whether the program has once said how to reach the settings on a desktop
// without a tray ("NoTrayHintShown" under the main key). A value that cannot
// be read counts as not said.
bool NoTrayHintShown();
void RememberNoTrayHintShown();
// Stores "QuietUntil" alone, as the tray sets it while the settings may be
// open with edits not yet confirmed.
void StoreQuietUntil(const std::string& until);

// A list in the classic comma text form: items separated by commas or
// blanks, an item may be enclosed in double quotes ("" inside stands for ").
std::vector<std::string> SplitCommaText(const std::string& text);
