#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TRegistry;
class TfrmNewMail;
class TfrmSettings;

// Where the configuration lives in the per-user hive.
inline constexpr const char* ConfigKey = "Software\\ternbell";
// Account i (from 1) is stored under ConfigKey + "\Account" + i.
std::string AccountKey(int number);

// Start-up defaults, computed once when the settings window is created.
// Texts are 8-bit desktop text.
extern std::string DefaultSoundFile;
extern std::string DefaultIconFile;
extern std::string DefaultAnimationFile;
// The reader program beside the executable is "ternview" (no .exe here);
// its command line is not the default of any stored value.
extern std::string ReaderCommand;
extern std::string DefaultEmailClient;

// The last load ran to its end, so the controls hold what is stored and may
// be saved over it. A load that failed leaves it false: saving then would
// replace stored values with ones that were never read.
extern bool SettingsLoaded;
// A larger "AccountsNo" is refused: it is a damaged file, not a setup.
inline constexpr int32_t MaxAccounts = 1000;

// Fills the start-up defaults from the executable's folder and the desktop's
// default mail client, in that order.
void ComputeStartupDefaults();
// The open command of the desktop's default mail client, or "".
std::string ReadDefaultEmailClient();

// Read a value of the open key; when it is missing, write the default with
// the value's type and return the default.
std::string ReadOrCreateString(TRegistry& reg, const std::string& name, const std::string& def);
int32_t ReadOrCreateInteger(TRegistry& reg, const std::string& name, int32_t def);
bool ReadOrCreateBool(TRegistry& reg, const std::string& name, bool def);

// Registry -> the settings window's controls, its account list and the
// notification window; applies what acts elsewhere (timer, sound, icon,
// animation, stacking, details panel). Stops at the first error, keeping
// what was loaded before it.
void LoadFromRegistry(TfrmSettings& settings, TfrmNewMail& newMail);
// The controls and the account list -> registry. Account keys numbered above
// the new count are left alone.
void WriteToRegistry(TfrmSettings& settings, TfrmNewMail& newMail);
// Deletes the stored settings (not the required priority, the account count
// or the accounts) and loads again, so the defaults are stored at once.
void RestoreDefaultSettings(TfrmSettings& settings, TfrmNewMail& newMail);

// A list in the classic comma text form: items separated by commas or
// blanks, an item may be enclosed in double quotes ("" inside stands for ").
std::vector<std::string> SplitCommaText(const std::string& text);
