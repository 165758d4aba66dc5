#include "config/ConfigStore.h"

#include "config/AccountRows.h"
#include "config/SettingsForm.h"
#include "desktop/UpDownControl.h"
#include "notify/NewMailForm.h"
#include "desktop/Animate.h"
#include "platform/CodePage.h"
#include "platform/ExeFolder.h"
#include "desktop/MediaPlayer.h"
#include "platform/Numbers.h"
#include "platform/Registry.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

#include <climits>

std::string DefaultSoundFile;
std::string DefaultIconFile;
std::string DefaultAnimationFile;
std::string ReaderCommand;
std::string DefaultEmailClient;
bool SettingsLoaded = false;

namespace
{

const char* const DefaultColumnsWidth = "100,100,100,100,0";

std::string Text(const QLineEdit* edit)
{
    return ToCodePage(edit->text());
}

void SetText(QLineEdit* edit, const std::string& text)
{
    edit->setText(FromCodePage(text));
}

bool FileExists(const std::string& path)
{
    return !path.empty() && QFileInfo(FromCodePage(path)).isFile();
}

// An index outside the list leaves it without a selection.
void SetItemIndex(QComboBox* combo, int index)
{
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

void ApplyColumnWidths(QTreeWidget* list, const std::string& stored)
{
    const std::vector<std::string> items = SplitCommaText(stored);
    for (size_t i = 0; i < items.size(); ++i)
    {
        const int width = DecimalOrHexToInt(items[i]);
        if (static_cast<int>(i) >= list->columnCount())
            throw Exception("List index out of bounds (" + std::to_string(i) + ")");
        // The list cannot show a negative width; such a value hides the column.
        list->header()->resizeSection(static_cast<int>(i), width < 0 ? 0 : width);
    }
}

std::string ColumnWidths(const QTreeWidget* list)
{
    std::string text;
    for (int i = 0; i < list->columnCount(); ++i)
    {
        if (i > 0)
            text += ',';
        text += std::to_string(list->header()->sectionSize(i));
    }
    return text;
}

// Applies the stacking without losing the window's visibility: changing
// window flags hides a shown window.
void SetStayOnTop(QWidget* window, bool onTop)
{
    if (window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop)
        return;
    const bool shown = window->isVisible();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (shown)
        window->show();
}

// An account's security; absent (hives written before there was one) or of
// another type means none.
constexpr const char* SecurityValue = "Security";

TAccountSecurity ReadSecurity(TRegistry& reg)
{
    if (!reg.ValueExists(SecurityValue) || reg.GetDataType(SecurityValue) != TRegDataType::rdInteger)
        return asNone;
    return SecurityOfNumber(reg.ReadInteger(SecurityValue));
}

} // namespace

std::string AccountKey(int number)
{
    return std::string(ConfigKey) + "\\Account" + std::to_string(number);
}

std::string ReadDefaultEmailClient()
{
    // Any step that cannot be read leaves the default empty.
    try
    {
        TRegistry reg(THiveRoot::LocalMachine);
        std::string client;
        if (reg.OpenKeyReadOnly("Software\\Clients\\Mail") && reg.ValueExists(""))
            client = reg.ReadString("");
        reg.CloseKey();
        const std::string path = "Software\\Clients\\Mail\\" + client + "\\shell\\open\\command";
        std::string command;
        if (reg.OpenKeyReadOnly(path) && reg.ValueExists(""))
            command = reg.ReadString("");
        reg.CloseKey();
        return command;
    }
    catch (const Exception&)
    {
        return {};
    }
}

void ComputeStartupDefaults()
{
    const std::string folder = FileNameToCodePage(ExecutableFolder());
    DefaultSoundFile = folder + "notify.wav";
    DefaultIconFile = folder + "newmsg.ico";
    DefaultAnimationFile = folder + "notify.avi";
    ReaderCommand = folder + "ternview %ACCOUNT% %MSGID%";
    DefaultEmailClient = ReadDefaultEmailClient();
}

std::string ReadOrCreateString(TRegistry& reg, const std::string& name, const std::string& def)
{
    if (reg.ValueExists(name))
        return reg.ReadString(name);
    reg.WriteString(name, def);
    return def;
}

int32_t ReadOrCreateInteger(TRegistry& reg, const std::string& name, int32_t def)
{
    if (reg.ValueExists(name))
        return reg.ReadInteger(name);
    reg.WriteInteger(name, def);
    return def;
}

bool ReadOrCreateBool(TRegistry& reg, const std::string& name, bool def)
{
    if (reg.ValueExists(name))
        return reg.ReadBool(name);
    reg.WriteBool(name, def);
    return def;
}

void LoadFromRegistry(TfrmSettings& s, TfrmNewMail& m)
{
    SettingsLoaded = false;
    TRegistry reg;
    // The defaults a load creates reach the file in one write.
    reg.DeferWrites();
    const bool existed = reg.KeyExists(ConfigKey);
    if (!reg.OpenKey(ConfigKey, true))
        throw ERegistryException("Failed to create key " + std::string(ConfigKey));

    SetText(s.txtApplication, ReadOrCreateString(reg, "EmailClient", DefaultEmailClient));
    s.spnInterval->SetPosition(ReadOrCreateInteger(reg, "CheckingTime", 300));
    // The other two spinners are bounded by the interval, also when its text
    // did not change.
    s.txtIntervalChange();
    SetItemIndex(s.cboDoubleClick, ReadOrCreateInteger(reg, "DoubleClick", 0));
    s.chkNotifyNewMsg->setChecked(ReadOrCreateBool(reg, "NotifyOnlyNewMsg", true));
    SetItemIndex(s.cboPriority, ReadOrCreateInteger(reg, "RequiredPriority", 4));
    s.chkShowForm->setChecked(ReadOrCreateBool(reg, "ShowForm", true));
    SetText(s.txtSound, ReadOrCreateString(reg, "PlaySound", DefaultSoundFile));
    s.spnLedActiveTime->SetPosition(ReadOrCreateInteger(reg, "ScrLckBlinking", 0));
    s.chkSilentMode->setChecked(s.spnLedActiveTime->Position() > 0);
    SetText(s.txtShowIcon, ReadOrCreateString(reg, "ShowIcon", DefaultIconFile));
    SetText(s.txtExecute, ReadOrCreateString(reg, "Execute", ""));
    s.spnAutoHide->SetPosition(ReadOrCreateInteger(reg, "FormAutoHide", 0));
    s.chkAutoHide->setChecked(s.spnAutoHide->Position() > 0);
    SetText(s.txtAnimation, ReadOrCreateString(reg, "FormAnimation", DefaultAnimationFile));
    s.chkStayOnTop->setChecked(ReadOrCreateBool(reg, "FormStayOnTop", true));
    s.chkSaveDetails->setChecked(ReadOrCreateBool(reg, "FormSaveDetails", true));
    if (s.chkSaveDetails->isChecked())
        m.actDetails->setChecked(ReadOrCreateBool(reg, "FormShowDetails", true));
    ApplyColumnWidths(m.lvwMessages,
                      ReadOrCreateString(reg, "FormColumnsWidth", DefaultColumnsWidth));
    const int32_t accounts = ReadOrCreateInteger(reg, "AccountsNo", 1);
    reg.CloseKey();
    if (accounts > MaxAccounts)
        throw ERegistryException("The settings list " + std::to_string(accounts) +
                                 " accounts (\"AccountsNo\"); at most " +
                                 std::to_string(MaxAccounts) + " can be loaded");

    s.lvwAccounts->clear();
    const Account defaults;
    for (int32_t i = 1; i <= accounts; ++i)
    {
        QTreeWidgetItem* row = AppendAccountRow(s.lvwAccounts, defaults);
        if (!reg.OpenKey(AccountKey(i), true))
            throw ERegistryException("Failed to create key " + AccountKey(i));
        Account a;
        a.Caption = ReadOrCreateString(reg, "Caption", defaults.Caption);
        a.UserName = ReadOrCreateString(reg, "UserName", defaults.UserName);
        a.Password = ReadOrCreateString(reg, "UserPassword", defaults.Password);
        a.Host = ReadOrCreateString(reg, "HostAddress", defaults.Host);
        a.Port = ReadOrCreateString(reg, "HostPort", defaults.Port);
        a.IMAP4 = ReadOrCreateBool(reg, "IMAP4", defaults.IMAP4);
        a.Enabled = ReadOrCreateBool(reg, "AccountEnabled", defaults.Enabled);
        a.Security = ReadSecurity(reg);
        SetAccountRow(row, a);
        reg.CloseKey();
    }

    s.timMail->setInterval(s.spnInterval->Position() * 1000);
    if (FileExists(Text(s.txtSound)))
    {
        s.mediaPlayer->FileName = Text(s.txtSound);
        s.mediaPlayer->Open();
    }
    if (FileExists(Text(s.txtShowIcon)))
    {
        s.triNewMsg->SetIcon(QIcon(s.txtShowIcon->text()));
        s.triNewMsg->SetVisible(false);
    }
    if (FileExists(Text(s.txtAnimation)))
    {
        m.aniNotify->SetFileName(Text(s.txtAnimation));
        m.aniNotify->SetActive(true);
    }
    SetStayOnTop(&m, s.chkStayOnTop->isChecked());
    if (!m.panDetails->isHidden() && !m.actDetails->isChecked())
    {
        const int panel = m.panDetails->height();
        m.panDetails->hide();
        m.resize(m.width(), m.height() - panel);
    }

    reg.Flush();
    SettingsLoaded = true;
    if (!existed)
        s.show();
}

void WriteToRegistry(TfrmSettings& s, TfrmNewMail& m)
{
    TRegistry reg;
    if (!reg.OpenKey(ConfigKey, true))
        throw ERegistryException("Failed to create key " + std::string(ConfigKey));
    reg.WriteString("EmailClient", Text(s.txtApplication));
    reg.WriteInteger("CheckingTime", s.spnInterval->Position());
    reg.WriteInteger("DoubleClick", s.cboDoubleClick->currentIndex());
    reg.WriteBool("NotifyOnlyNewMsg", s.chkNotifyNewMsg->isChecked());
    reg.WriteInteger("RequiredPriority", s.cboPriority->currentIndex());
    reg.WriteBool("ShowForm", s.chkShowForm->isChecked());
    reg.WriteString("PlaySound", Text(s.txtSound));
    reg.WriteInteger("ScrLckBlinking", s.spnLedActiveTime->Position());
    reg.WriteString("ShowIcon", Text(s.txtShowIcon));
    reg.WriteString("Execute", Text(s.txtExecute));
    reg.WriteInteger("FormAutoHide", s.spnAutoHide->Position());
    reg.WriteString("FormAnimation", Text(s.txtAnimation));
    reg.WriteBool("FormStayOnTop", s.chkStayOnTop->isChecked());
    reg.WriteBool("FormSaveDetails", s.chkSaveDetails->isChecked());
    reg.WriteBool("FormShowDetails", m.actDetails->isChecked());
    reg.WriteString("FormColumnsWidth", ColumnWidths(m.lvwMessages));
    reg.WriteInteger("AccountsNo", s.lvwAccounts->topLevelItemCount());
    reg.CloseKey();

    for (int i = 0; i < s.lvwAccounts->topLevelItemCount(); ++i)
    {
        const Account a = AccountOfRow(s.lvwAccounts->topLevelItem(i));
        if (!reg.OpenKey(AccountKey(i + 1), true))
            throw ERegistryException("Failed to create key " + AccountKey(i + 1));
        reg.WriteString("Caption", a.Caption);
        reg.WriteString("UserName", a.UserName);
        reg.WriteString("UserPassword", a.Password);
        reg.WriteString("HostAddress", a.Host);
        reg.WriteString("HostPort", a.Port);
        reg.WriteBool("AccountEnabled", a.Enabled);
        reg.WriteBool("IMAP4", a.IMAP4);
        // Written only when chosen, so plain accounts keep the key they had.
        if (a.Security != asNone)
            reg.WriteInteger(SecurityValue, a.Security);
        else if (reg.ValueExists(SecurityValue))
            reg.DeleteValue(SecurityValue);
        reg.CloseKey();
    }
}

void RestoreDefaultSettings(TfrmSettings& s, TfrmNewMail& m)
{
    {
        TRegistry reg;
        if (!reg.OpenKey(ConfigKey, true))
            throw ERegistryException("Failed to create key " + std::string(ConfigKey));
        for (const char* name :
             {"EmailClient", "CheckingTime", "DoubleClick", "NotifyOnlyNewMsg", "ShowForm",
              "PlaySound", "ScrLckBlinking", "ShowIcon", "Execute", "FormAutoHide",
              "FormAnimation", "FormStayOnTop", "FormSaveDetails", "FormColumnsWidth",
              "FormShowDetails"})
            reg.DeleteValue(name);
        reg.CloseKey();
    }
    LoadFromRegistry(s, m);
}

std::vector<std::string> SplitCommaText(const std::string& text)
{
    std::vector<std::string> items;
    const auto blank = [](char c) { return c != '\0' && static_cast<unsigned char>(c) <= ' '; };
    size_t p = 0;
    const size_t n = text.size();
    while (p < n && blank(text[p]))
        ++p;
    while (p < n)
    {
        std::string item;
        if (text[p] == '"')
        {
            ++p;
            while (p < n)
            {
                if (text[p] == '"')
                {
                    if (p + 1 < n && text[p + 1] == '"')
                    {
                        item += '"';
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                item += text[p++];
            }
        }
        else
        {
            const size_t start = p;
            while (p < n && static_cast<unsigned char>(text[p]) > ' ' && text[p] != ',')
                ++p;
            item = text.substr(start, p - start);
        }
        items.push_back(item);
        while (p < n && blank(text[p]))
            ++p;
        if (p < n && text[p] == ',')
        {
            if (p + 1 == n)
                items.emplace_back(); // a trailing comma ends in an empty item
            do
                ++p;
            while (p < n && blank(text[p]));
        }
    }
    return items;
}

