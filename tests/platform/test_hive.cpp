#include "platform/Hive.h"
#include "platform/Registry.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

bool Exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

unsigned ModeOf(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str()))
    {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

int RunChild(const std::function<void()>& body)
{
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        try
        {
            body();
        }
        catch (...)
        {
            ::_exit(99);
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Each test gets its own XDG_CONFIG_HOME and hears every reported problem itself.
class HiveFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FEnv.Set("XDG_CONFIG_HOME", FRoot.Path());
        SetHiveProblemReporter([this](const std::string& text) { FProblems.push_back(text); });
    }
    void TearDown() override
    {
        SetHiveProblemReporter({});
        SetHiveReplaceHook({});
    }
    std::string Folder() const { return FRoot.File("ternbell"); }
    std::string Path() const { return UserHivePath(); }
    void Prepare(const std::string& text)
    {
        ::mkdir(Folder().c_str(), 0700);
        WriteFile(Path(), text);
    }

    TempFolder FRoot{"hive"};
    ScopedEnvironment FEnv;
    std::vector<std::string> FProblems;
};

const char kKey[] = "Software\\ternbell";

} // namespace

// --- text form ----------------------------------------------------------------

TEST(HiveText, EveryValueFormRoundTrips)
{
    const std::string text = "REGEDIT4\n"
                             "\n"
                             "; written by hand\n"
                             "[HKEY_CURRENT_USER\\Software\\ternbell]\n"
                             "@=\"default\"\n"
                             "\"Plain\"=\"pa\\\"ss\\\\word\"\n"
                             "\"Empty\"=\"\"\n"
                             "; the interval\n"
                             "\"CheckingTime\"=dword:0000012c\n"
                             "\"Minus\"=dword:ffffffff\n"
                             "\"Path\"=hex(2):25,48,4f,4d,45,25,2f,c3,a9,00\n"
                             "\"Blob\"=hex:01,02,ff\n"
                             "\"Multi\"=hex(7):61,00,00,00\n"
                             "\n"
                             "[HKEY_CURRENT_USER\\Software\\Other\\Deep]\n"
                             "\"Kept\"=\"yes\"\n"
                             "\n"
                             "; the end\n";
    const THive hive = ParseHive(text);
    ASSERT_EQ(hive.Keys.size(), 2u);
    const THiveKey& k = hive.Keys[0];
    struct Case
    {
        const char* name;
        THiveValueKind kind;
        std::string text;
        uint32_t number;
    };
    const Case cases[] = {
        {"", THiveValueKind::String, "default", 0},
        {"Plain", THiveValueKind::String, "pa\"ss\\word", 0},
        {"Empty", THiveValueKind::String, "", 0},
        {"CheckingTime", THiveValueKind::Integer, "", 300},
        {"Minus", THiveValueKind::Integer, "", 0xffffffffu},
        {"Path", THiveValueKind::ExpandString, "%HOME%/\xc3\xa9", 0},
        {"Blob", THiveValueKind::Binary, "hex:01,02,ff", 0},
        {"Multi", THiveValueKind::Other, "hex(7):61,00,00,00", 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const THiveValue* v = k.Find(c.name);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->Kind, c.kind);
        if (c.kind == THiveValueKind::Integer)
            EXPECT_EQ(v->Number, c.number);
        else
            EXPECT_EQ(v->Text, c.text);
    }
    // Written back it is the same text, comments included.
    EXPECT_EQ(SerializeHive(hive), text);
}

TEST(HiveText, LongHexListsContinueOverLines)
{
    const THive hive = ParseHive("REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"X\"=hex(2):61,62,\\\n  63,00\n");
    EXPECT_EQ(hive.Keys[0].Find("X")->Text, "abc");
}

TEST(HiveText, LineBreaksCannotForgeLines)
{
    THive hive;
    THiveValue v;
    v.Name = "Caption";
    v.Text = "x\"\n[HKEY_CURRENT_USER\\Evil]\r\n\"a\"=\"b";
    hive.Create("HKEY_CURRENT_USER\\Software\\ternbell").Set(v);
    const THive back = ParseHive(SerializeHive(hive));
    ASSERT_EQ(back.Keys.size(), 1u);
    const THiveValue* read = back.Keys[0].Find("Caption");
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->Kind, THiveValueKind::String);
    EXPECT_EQ(read->Text, v.Text);
}

TEST(HiveText, DamagedTextIsRejected)
{
    const char* bad[] = {
        "[HKEY_CURRENT_USER\\A]\n\"X\"=\"1\"\n",                 // no header
        "REGEDIT5\n",                                             // wrong header
        "REGEDIT4\n\"X\"=\"1\"\n",                                // value outside a key
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"X\"=\"unterminated\n", // cut off
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"X\"=dword:12345678x\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"X\"=dword:123456789\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"X\"=hex(2):6g,00\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"X\"=word:1\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\nX=\"1\"\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A\n",
        "\x89PNG\r\n\x1a\n\x00\x00",
    };
    for (const char* text : bad)
    {
        SCOPED_TRACE(text);
        EXPECT_THROW(ParseHive(text), EHiveParseError);
    }
    EXPECT_TRUE(ParseHive("").Keys.empty());
    EXPECT_TRUE(ParseHive("\n \n").Keys.empty());
}

TEST(HiveText, NamesCompareWithoutCaseAndKeepTheirSpelling)
{
    THive hive = ParseHive("REGEDIT4\n[HKEY_CURRENT_USER\\Software\\TernBell]\n\"PlaySound\"=\"a\"\n");
    ASSERT_NE(hive.Find("hkey_current_user\\software\\ternbell"), nullptr);
    THiveValue v;
    v.Name = "PLAYSOUND";
    v.Text = "b";
    hive.Find("HKEY_CURRENT_USER\\SOFTWARE\\TERNBELL")->Set(v);
    EXPECT_EQ(SerializeHive(hive), "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\TernBell]\n\"PlaySound\"=\"b\"\n\n");
    EXPECT_TRUE(hive.Exists("HKEY_CURRENT_USER\\software"));
    EXPECT_FALSE(hive.Exists("HKEY_CURRENT_USER\\Soft"));
}

// --- the registry over the file -------------------------------------------------

TEST_F(HiveFileTest, EveryValueTypeRoundTripsThroughTheFile)
{
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kKey, true));
        reg.WriteString("EmailClient", "\"/opt/mail client/mail\" -compose \\x");
        reg.WriteString("Empty", "");
        reg.WriteString("", "the default");
        reg.WriteExpandString("Sound", "$HOME/caf\xc3\xa9.wav"); // the desktop's UTF-8
        reg.WriteInteger("CheckingTime", 300);
        reg.WriteInteger("DoubleClick", -1);
        reg.WriteInteger("Low", INT32_MIN);
        reg.WriteBool("ShowForm", true);
        reg.WriteBool("FormStayOnTop", false);
        reg.CloseKey();
    }
    // The file is UTF-8; an integer is a dword.
    const std::string text = ReadFile(Path());
    EXPECT_NE(text.find("\"Sound\"=hex(2):24,48,4f,4d,45,2f,63,61,66,c3,a9,2e,77,61,76,00"), std::string::npos)
        << text;
    EXPECT_NE(text.find("\"DoubleClick\"=dword:ffffffff"), std::string::npos);

    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(kKey));
    EXPECT_EQ(reg.ReadString("EmailClient"), "\"/opt/mail client/mail\" -compose \\x");
    EXPECT_EQ(reg.ReadString("Empty"), "");
    EXPECT_TRUE(reg.ValueExists("Empty"));
    EXPECT_EQ(reg.ReadString(""), "the default");
    EXPECT_EQ(reg.ReadString("Sound"), "$HOME/caf\xc3\xa9.wav");
    EXPECT_EQ(reg.GetDataType("Sound"), TRegDataType::rdExpandString);
    EXPECT_EQ(reg.GetDataType("EmailClient"), TRegDataType::rdString);
    EXPECT_EQ(reg.GetDataType("CheckingTime"), TRegDataType::rdInteger);
    EXPECT_EQ(reg.GetDataType("Missing"), TRegDataType::rdUnknown);
    EXPECT_EQ(reg.ReadInteger("CheckingTime"), 300);
    EXPECT_EQ(reg.ReadInteger("DoubleClick"), -1);
    EXPECT_EQ(reg.ReadInteger("Low"), INT32_MIN);
    EXPECT_TRUE(reg.ReadBool("ShowForm"));
    EXPECT_FALSE(reg.ReadBool("FormStayOnTop"));
    EXPECT_THROW(reg.WriteString("X", "y"), ERegistryException);
}

TEST_F(HiveFileTest, NamesCompareWithoutCase)
{
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("Software\\ternbell\\Account1", true));
        reg.WriteString("Caption", "Home");
        reg.WriteString("CAPTION", "Work"); // the same value
        reg.CloseKey();
    }
    TRegistry reg;
    EXPECT_TRUE(reg.KeyExists("SOFTWARE\\TernBell\\account1"));
    EXPECT_TRUE(reg.KeyExists("\\Software\\ternbell\\"));
    EXPECT_FALSE(reg.KeyExists("Software\\ternbell\\Account2"));
    ASSERT_TRUE(reg.OpenKey("software\\ternbell\\ACCOUNT1", false));
    EXPECT_EQ(reg.ReadString("caption"), "Work");
    EXPECT_TRUE(reg.DeleteValue("cApTiOn"));
    EXPECT_FALSE(reg.ValueExists("Caption"));
    EXPECT_FALSE(reg.DeleteValue("Caption"));
    reg.CloseKey();
    const std::string text = ReadFile(Path());
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\ternbell\\Account1]"), std::string::npos);
    EXPECT_EQ(text.find("aption"), std::string::npos);
}

TEST_F(HiveFileTest, WrongTypeIsAnError)
{
    Prepare("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\ternbell]\n"
            "\"Text\"=\"300\"\n\"Number\"=dword:00000001\n\"Blob\"=hex:01\n\"Multi\"=hex(7):00\n"
            "\"Expand\"=hex(2):31,00\n");
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    struct Case
    {
        const char* name;
        bool asInteger;
    };
    const Case cases[] = {
        {"Text", true}, {"Expand", true}, {"Blob", true}, {"Missing", true},
        {"Number", false}, {"Blob", false}, {"Multi", false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        try
        {
            if (c.asInteger)
                reg.ReadBool(c.name);
            else
                reg.ReadString(c.name);
            ADD_FAILURE() << "no error";
        }
        catch (const ERegistryException& e)
        {
            EXPECT_EQ(e.Message, std::string("Invalid data type for '") + c.name + "'");
        }
    }
    EXPECT_EQ(reg.ReadString("Expand"), "1");
    EXPECT_EQ(reg.ReadString("Missing"), "");
}

TEST_F(HiveFileTest, ChangesReachTheFileWhenTheKeyCloses)
{
    TRegistry reg;
    ASSERT_FALSE(reg.OpenKey(kKey, false));
    EXPECT_FALSE(Exists(Path()));
    ASSERT_TRUE(reg.OpenKey(kKey, true));
    reg.WriteInteger("CheckingTime", 60);
    EXPECT_FALSE(Exists(Path()));
    reg.CloseKey();
    EXPECT_NE(ReadFile(Path()).find("\"CheckingTime\"=dword:0000003c"), std::string::npos);
    // A created key with nothing in it is still a key.
    ASSERT_TRUE(reg.OpenKey("Software\\ternbell\\Account1", true));
    reg.CloseKey();
    EXPECT_TRUE(reg.KeyExists("Software\\ternbell\\Account1"));
}

TEST_F(HiveFileTest, UnknownKeysAndValuesAreKept)
{
    const std::string foreign = "; my notes\n"
                                "[HKEY_CURRENT_USER\\Software\\Elsewhere]\n"
                                "\"Blob\"=hex:de,ad\n"
                                "\"Multi\"=hex(7):61,00,00\n";
    Prepare("REGEDIT4\n\n" + foreign + "\n[HKEY_CURRENT_USER\\Software\\ternbell]\n\"Future\"=\"x\"\n");
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    reg.WriteString("EmailClient", "mail");
    reg.CloseKey();
    const std::string text = ReadFile(Path());
    EXPECT_NE(text.find(foreign), std::string::npos) << text;
    EXPECT_NE(text.find("\"Future\"=\"x\"\n\"EmailClient\"=\"mail\""), std::string::npos) << text;
}

TEST_F(HiveFileTest, FileIsPrivate)
{
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kKey, true));
    reg.WriteString("UserPassword", "secret");
    reg.CloseKey();
    EXPECT_EQ(ModeOf(Folder()), 0700u);
    EXPECT_EQ(ModeOf(Path()), 0600u);
    // Rewriting a file someone opened up makes it private again.
    ::chmod(Path().c_str(), 0644);
    ASSERT_TRUE(reg.OpenKey(kKey, true));
    reg.WriteString("UserPassword", "other");
    reg.CloseKey();
    EXPECT_EQ(ModeOf(Path()), 0600u);
}

TEST_F(HiveFileTest, CrashBetweenWriteAndRenameLosesNothing)
{
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kKey, true));
        reg.WriteString("EmailClient", "old");
        reg.CloseKey();
    }
    const std::string before = ReadFile(Path());

    // The child dies with the new file complete but not yet in place.
    const int code = RunChild([] {
        SetHiveReplaceHook([](const std::string&) { ::_exit(42); });
        TRegistry reg;
        reg.OpenKey(kKey, true);
        reg.WriteString("EmailClient", "new");
        reg.WriteInteger("CheckingTime", 5);
        reg.CloseKey();
    });
    ASSERT_EQ(code, 42);
    EXPECT_EQ(ReadFile(Path()), before);
    EXPECT_EQ(FilesIn(Folder()).size(), 3u); // hive, lock, the orphaned temporary

    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    EXPECT_EQ(reg.ReadString("EmailClient"), "old");
    EXPECT_FALSE(reg.ValueExists("CheckingTime"));
    reg.WriteInteger("CheckingTime", 10);
    reg.CloseKey();
    // The next writer clears the leftover.
    EXPECT_EQ(FilesIn(Folder()).size(), 2u);
    EXPECT_TRUE(FProblems.empty());
}

TEST_F(HiveFileTest, CorruptFileIsKeptAsideAndTheProgramStarts)
{
    const std::string garbage = "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\ternbell]\n\"EmailClient\"=\"trunc";
    Prepare(garbage);
    {
        TRegistry reg;
        EXPECT_FALSE(reg.OpenKey(kKey, false)); // empty hive
        ASSERT_TRUE(reg.OpenKey(kKey, true));
        reg.WriteInteger("CheckingTime", 300);
        reg.CloseKey();
    }
    ASSERT_EQ(FProblems.size(), 1u);
    EXPECT_NE(FProblems[0].find("user.reg.bad"), std::string::npos);
    EXPECT_EQ(ReadFile(Path() + ".bad"), garbage);
    EXPECT_NE(ReadFile(Path()).find("CheckingTime"), std::string::npos);

    // A second bad file never replaces the first copy.
    Prepare("not a hive");
    TRegistry reg;
    EXPECT_FALSE(reg.KeyExists(kKey));
    EXPECT_EQ(FProblems.size(), 2u);
    EXPECT_EQ(ReadFile(Path() + ".bad"), garbage);
    EXPECT_EQ(ReadFile(Path() + ".bad.1"), "not a hive");
    EXPECT_FALSE(Exists(Path()));
}

TEST_F(HiveFileTest, ParallelWritersLoseNoKey)
{
    constexpr int kWriters = 3, kKeys = 15;
    std::vector<pid_t> pids;
    for (int w = 0; w < kWriters; ++w)
    {
        const pid_t pid = ::fork();
        if (pid == 0)
        {
            try
            {
                TRegistry reg;
                for (int i = 0; i < kKeys; ++i)
                {
                    reg.OpenKey("Software\\ternbell\\W" + std::to_string(w) + "K" + std::to_string(i), true);
                    reg.WriteInteger("N", i);
                    reg.CloseKey();
                    // Everybody also updates the shared key.
                    reg.OpenKey(kKey, true);
                    reg.WriteInteger("Writer" + std::to_string(w), i);
                    reg.CloseKey();
                }
            }
            catch (...)
            {
                ::_exit(1);
            }
            ::_exit(0);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids)
    {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    TRegistry reg;
    for (int w = 0; w < kWriters; ++w)
    {
        for (int i = 0; i < kKeys; ++i)
        {
            const std::string key = "Software\\ternbell\\W" + std::to_string(w) + "K" + std::to_string(i);
            ASSERT_TRUE(reg.OpenKey(key, false)) << key;
            EXPECT_EQ(reg.ReadInteger("N"), i);
        }
        ASSERT_TRUE(reg.OpenKey(kKey, false));
        EXPECT_EQ(reg.ReadInteger("Writer" + std::to_string(w)), kKeys - 1);
    }
}

// --- stray carriage returns, repeated sections, a file changed behind a kept copy

TEST(HiveText, StrayCarriageReturnsNeitherFailTheFileNorShrinkEachSave)
{
    const std::string text = "REGEDIT4\r\r\n"
                             "\r\n"
                             "; note\r\r\n"
                             "[HKEY_CURRENT_USER\\Software\\ternbell]\r\r\n"
                             "\"Execute\"=\"run\"\r\r\n"
                             "\"CheckingTime\" \r= dword:0000003c \r\r\n"
                             "\"Blob\"=hex:01,\r\\\r\n"
                             " 02\r\r\r\n"
                             "; inner\rcarriage return\r\n";
    const THive hive = ParseHive(text);
    const THiveKey* key = hive.Find("HKEY_CURRENT_USER\\Software\\ternbell");
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(key->Values.size(), 3u);
    EXPECT_EQ(key->Find("Execute")->Text, "run");
    EXPECT_EQ(key->Find("CheckingTime")->Number, 60u);
    EXPECT_EQ(key->Find("Blob")->Text, "hex:01,02");
    ASSERT_EQ(key->Comments.size(), 1u);
    EXPECT_EQ(key->Comments[0], "; note");
    ASSERT_EQ(hive.TrailingComments.size(), 1u);
    EXPECT_EQ(hive.TrailingComments[0], "; inner\rcarriage return");

    const std::string saved = SerializeHive(hive);
    EXPECT_EQ(SerializeHive(ParseHive(saved)), saved);
    EXPECT_EQ(SerializeHive(ParseHive(SerializeHive(ParseHive(saved)))), saved);
}

// The hive trims as the rest of the program does: any control character at a
// line's edge is a blank, and one inside quotes is text.
TEST(HiveText, ControlCharactersAtLineEdgesAreBlanksAndInsideQuotesText)
{
    const THive hive = ParseHive("REGEDIT4\n\f\n[HKEY_CURRENT_USER\\Software\\ternbell]\v\n"
                                 "\x01\"Execute\"\f=\f\"run\x01\"\x1f\n");
    const THiveKey* key = hive.Find("HKEY_CURRENT_USER\\Software\\ternbell");
    ASSERT_NE(key, nullptr);
    ASSERT_NE(key->Find("Execute"), nullptr);
    EXPECT_EQ(key->Find("Execute")->Text, "run\x01");
}

TEST(HiveText, RepeatedSectionsAndNamesMergeLaterWinning)
{
    const THive hive = ParseHive("REGEDIT4\n"
                                 "[HKEY_CURRENT_USER\\K]\n\"Name\"=\"1\"\n\"other\"=\"x\"\n"
                                 "[HKEY_CURRENT_USER\\L]\n\"Name\"=\"L\"\n"
                                 "[hkey_current_user\\k]\n\"NAME\"=\"2\"\n\"new\"=\"y\"\n");
    ASSERT_EQ(hive.Keys.size(), 2u);
    const THiveKey& k = hive.Keys[0];
    ASSERT_EQ(k.Values.size(), 3u);
    EXPECT_EQ(k.Values[0].Name, "Name");
    EXPECT_EQ(k.Values[0].Text, "2");
    EXPECT_EQ(k.Values[2].Name, "new");
    EXPECT_EQ(hive.Keys[1].Values.at(0).Text, "L");
}

TEST_F(HiveFileTest, StrayCarriageReturnDoesNotPutTheFileAside)
{
    Prepare("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\ternbell]\r\n"
            "\"EmailClient\"=\"mutt\"\r\r\n; keep me\r\r\n\"CheckingTime\"=dword:0000003c\r\n");
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kKey, false));
        EXPECT_EQ(reg.ReadString("EmailClient"), "mutt");
        reg.WriteInteger("CheckingTime", 61);
    }
    EXPECT_TRUE(FProblems.empty());
    EXPECT_FALSE(Exists(Path() + ".bad"));
    const std::string once = ReadFile(Path());
    EXPECT_NE(once.find("; keep me\n\"CheckingTime\"=dword:0000003d"), std::string::npos) << once;
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kKey, false));
        reg.WriteInteger("CheckingTime", 61);
    }
    EXPECT_EQ(ReadFile(Path()), once);
}

TEST_F(HiveFileTest, FileChangedBehindAKeptCopyIsReadAgain)
{
    Prepare("REGEDIT4\n[HKEY_CURRENT_USER\\Software\\ternbell]\n\"EmailClient\"=\"aaaa\"\n");
    // Old enough that the copy read from it is kept.
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, Path().c_str(), old, 0), 0);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    EXPECT_EQ(reg.ReadString("EmailClient"), "aaaa");
    reg.CloseKey();

    // Same size, same inode, the old times put back: only the change time differs.
    {
        FILE* f = std::fopen(Path().c_str(), "r+");
        ASSERT_NE(f, nullptr);
        const std::string text = ReadFile(Path());
        std::fseek(f, static_cast<long>(text.find("aaaa")), SEEK_SET);
        std::fputs("bbbb", f);
        std::fclose(f);
    }
    ASSERT_EQ(::utimensat(AT_FDCWD, Path().c_str(), old, 0), 0);
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    EXPECT_EQ(reg.ReadString("EmailClient"), "bbbb");
    reg.CloseKey();

    // Another writer's replace is seen as well.
    {
        TRegistry other;
        ASSERT_TRUE(other.OpenKey(kKey, false));
        other.WriteString("EmailClient", "cc");
    }
    ASSERT_TRUE(reg.OpenKey(kKey, false));
    EXPECT_EQ(reg.ReadString("EmailClient"), "cc");
}

TEST_F(HiveFileTest, DeferredWritesReachTheFileOnceAtFlush)
{
    int writes = 0;
    SetHiveReplaceHook([&](const std::string&) { ++writes; });
    TRegistry reg;
    reg.DeferWrites();
    for (int i = 1; i <= 50; ++i)
    {
        ASSERT_TRUE(reg.OpenKey("Software\\ternbell\\Account" + std::to_string(i), true));
        reg.WriteString("Caption", "Account " + std::to_string(i));
        reg.CloseKey();
        // Later opens in the same registry see what is still waiting.
        ASSERT_TRUE(reg.OpenKey("Software\\ternbell\\Account1", false));
        EXPECT_EQ(reg.ReadString("Caption"), "Account 1");
        reg.CloseKey();
    }
    EXPECT_EQ(writes, 0);
    EXPECT_FALSE(Exists(Path()));
    reg.Flush();
    EXPECT_EQ(writes, 1);
    EXPECT_NE(ReadFile(Path()).find("\"Caption\"=\"Account 50\""), std::string::npos);
}
