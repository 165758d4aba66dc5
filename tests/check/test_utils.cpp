#include "check/Utils.h"
#include "platform/CodePage.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <string>

TEST(Utils, PosFrom)
{
    struct Case
    {
        const char* text;
        const char* pattern;
        int start;
        int expected;
    };
    const Case cases[] = {
        {"abcabc", "abc", 1, 1},
        {"abcabc", "abc", 2, 4},
        {"abcabc", "abc", 4, 4},
        {"abcabc", "abc", 5, 0},
        {"abcabc", "c", 6, 6},
        {"abcabc", "c", 7, 0},   // beyond the end
        {"abcabc", "", 1, 0},    // an empty pattern is never found
        {"abcabc", "ABC", 1, 0}, // case counts
        {"", "a", 1, 0},
        {"abc", "abcd", 1, 0},
        {"abc", "a", 0, 0},
        {"a\xe9z", "\xe9", 1, 2}, // 8-bit text, byte for byte
    };
    for (const auto& c : cases)
        EXPECT_EQ(PosFrom(c.text, c.pattern, c.start), c.expected)
            << '"' << c.text << "\" \"" << c.pattern << "\" " << c.start;
}

TEST(Utils, TextBetween)
{
    struct Case
    {
        const char* text;
        const char* startMarker;
        const char* endMarker;
        int start;
        const char* expected;
    };
    const Case cases[] = {
        {"\"C:/Mail Client/mail\" -compose", "\"", "\"", 1, "C:/Mail Client/mail"},
        {"<a><b>", "<", ">", 1, "a"},
        {"<a><b>", "<", ">", 2, "b"},
        {"head]tail", "[", "]", 1, "head"},   // only the end marker: everything before it
        {"head[tail", "[", "]", 1, "tail"},   // only the start marker: everything after it
        {"nothing here", "[", "]", 1, ""},
        {"x]y[z", "[", "]", 1, "z"},          // end marker only before the start
        {"abc[", "[", "]", 1, ""},            // start marker ends the text
        {"[[x]]", "[[", "]]", 1, "x"},
        {"]a[b", "[", "]", 3, "b"},
        {"", "[", "]", 1, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TextBetween(c.text, c.startMarker, c.endMarker, c.start), c.expected) << c.text;
}

TEST(Utils, HumanSize)
{
    struct Case
    {
        int32_t bytes;
        const char* dot;
        const char* comma;
    };
    const Case cases[] = {
        {0, "0  B", "0  B"},
        {1, "1  B", "1  B"},
        {1023, "1023  B", "1023  B"},
        {1024, "1024  B", "1024  B"},
        {1025, "1 KB", "1 KB"},
        {1536, "1.5 KB", "1,5 KB"},
        {1100, "1.07 KB", "1,07 KB"},
        {1034, "1.01 KB", "1,01 KB"},
        {2047, "2 KB", "2 KB"},        // 1.999 rounds up; no trailing zeros
        {1048576, "1024 KB", "1024 KB"},
        {1048577, "1 MB", "1 MB"},
        {1024 * 1024 * 5 / 2, "2.5 MB", "2,5 MB"},
        {2147483647, "2 GB", "2 GB"},
        {-1, "-1  B", "-1  B"},
        {-2048, "-2048  B", "-2048  B"},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(HumanSize(c.bytes, "."), c.dot) << c.bytes;
        EXPECT_EQ(HumanSize(c.bytes, ","), c.comma) << c.bytes;
    }
}

// Run only by the next test, in a fresh process with a given locale; writes
// what HumanSize makes of 1536 bytes there.
TEST(Utils, DISABLED_HumanSizeInChildLocale)
{
    const char* out = std::getenv("TERNBELL_HUMANSIZE_OUT");
    ASSERT_NE(out, nullptr);
    std::ofstream(out) << HumanSize(1536);
}

TEST(Utils, HumanSizeFollowsTheUserLocale)
{
    const TempFolder dir("locale");
    const std::string out = dir.File("out");
    struct Case
    {
        const char* locale;
        const char* expected;
    };
    const Case cases[] = {{"de_DE.UTF-8", "1,5 KB"}, {"en_US.UTF-8", "1.5 KB"}, {"fr_FR.UTF-8", "1,5 KB"}};
    for (const auto& c : cases)
    {
        const std::string cmd = std::string("env -u LANGUAGE -u LC_NUMERIC LC_ALL=") + c.locale +
                                " TERNBELL_HUMANSIZE_OUT=" + out +
                                " /proc/" + std::to_string(::getpid()) +
                                "/exe --gtest_also_run_disabled_tests --gtest_filter=Utils.DISABLED_HumanSizeInChildLocale"
                                " >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        EXPECT_EQ(ReadFile(out), c.expected) << c.locale;
    }
}

TEST(Utils, ReplaceCount)
{
    struct Case
    {
        const char* text;
        const char* pattern;
        const char* value;
        int count;
        int start;
        const char* expected;
    };
    const Case cases[] = {
        {"a %X% b %X%", "%X%", "1", 2147483647, 1, "a 1 b 1"},
        {"a %X% b %X%", "%X%", "1", 1, 1, "a 1 b %X%"},
        {"a %X% b %X%", "%X%", "1", 1, 4, "a %X% b 1"},   // the first at or after start
        {"a %X% b %X%", "%X%", "1", 0, 1, "a %X% b %X%"},
        {"a %X% b %X%", "%X%", "", 2147483647, 1, "a  b "}, // removed
        {"a %X% b", "", "1", 5, 1, "a %X% b"},               // empty pattern
        {"a %X% b", "%X%", "1", 5, 99, "a %X% b"},           // start beyond the text
        {"%X%%X%", "%X%", "<%X%>", 2147483647, 1, "<%X%><%X%>"}, // not replaced again
        {"aaa", "a", "aa", 2147483647, 1, "aaaaaa"},
        {"xx", "x", "y", 3, 0, "xx"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReplaceCount(c.text, c.pattern, c.value, c.count, c.start), c.expected)
            << c.text << " / " << c.pattern << " / " << c.count << " / " << c.start;
}

namespace {

bool WaitForFile(const std::string& path)
{
    struct stat st;
    for (int i = 0; i < 1000; ++i) // up to 10 s
    {
        if (::stat(path.c_str(), &st) == 0 && st.st_size > 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A recorder program in a folder with a blank in its name: it waits until
// <folder>/go exists (when asked to), then writes its working directory and
// arguments, one per line, to <folder>/out.
class StartProcessTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FFolder = FRoot + "/tool box";
        ASSERT_EQ(::mkdir(FFolder.c_str(), 0700), 0);
        FProgram = FFolder + "/record";
        std::ofstream(FProgram) << "#!/bin/sh\n"
                                   "if [ \"$1\" = wait ]; then\n"
                                   "  while [ ! -e '" << FRoot << "/go' ]; do sleep 0.02; done\n"
                                   "fi\n"
                                   "{ pwd; for a in \"$@\"; do echo \"[$a]\"; done; } > '" << FRoot << "/out.tmp'\n"
                                   "mv '" << FRoot << "/out.tmp' '" << FRoot << "/out'\n";
        ASSERT_EQ(::chmod(FProgram.c_str(), 0700), 0);
    }
    std::string Out() const { return FRoot + "/out"; }
    void Go() const { std::ofstream(FRoot + "/go") << "go"; }

    TempFolder FTemp{"start"};
    const std::string FRoot = FTemp.Path();
    std::string FFolder, FProgram;
};

} // namespace

TEST_F(StartProcessTest, QuotedProgramRunsInItsFolderWithItsArguments)
{
    const std::string cmd = "\"" + FProgram + "\" one \"two words\" three";
    ASSERT_TRUE(StartProcess(cmd, 1, -1));
    // Waited without limit: the output is there already.
    EXPECT_EQ(ReadFile(Out()), FFolder + "\n[one]\n[two words]\n[three]\n");
}

TEST_F(StartProcessTest, NoWaitReturnsWhileTheProgramRuns)
{
    const std::string cmd = "\"" + FProgram + "\" wait";
    ASSERT_TRUE(StartProcess(cmd, 1, 0));
    struct stat st;
    EXPECT_NE(::stat(Out().c_str(), &st), 0); // still waiting for us
    Go();
    ASSERT_TRUE(WaitForFile(Out()));
    EXPECT_EQ(ReadFile(Out()), FFolder + "\n[wait]\n");
}

TEST_F(StartProcessTest, LimitedWaitGivesUp)
{
    const std::string cmd = "\"" + FProgram + "\" wait";
    ASSERT_TRUE(StartProcess(cmd, 1, 100));
    struct stat st;
    EXPECT_NE(::stat(Out().c_str(), &st), 0);
    Go();
    EXPECT_TRUE(WaitForFile(Out()));
    // A limit that is not reached ends with the program.
    ::unlink(Out().c_str());
    ASSERT_TRUE(StartProcess(cmd, 1, 60000));
    EXPECT_EQ(ReadFile(Out()), FFolder + "\n[wait]\n");
}

TEST_F(StartProcessTest, ProgramFoundInPathRunsInTheFolderOfItsRelativePath)
{
    // "sh" has no slash: PATH finds it; the folder is that of ./sh, i.e. ours.
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_TRUE(StartProcess("sh \"" + FProgram + "\" x", 1, -1));
    EXPECT_EQ(ReadFile(Out()), std::string(cwd) + "\n[x]\n");
}

TEST_F(StartProcessTest, ProgramAloneRunsInOurFolder)
{
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    const std::string plain = FRoot + "/rec"; // a path without blanks
    ASSERT_EQ(::symlink(FProgram.c_str(), plain.c_str()), 0);
    ASSERT_TRUE(StartProcess(plain, 1, -1));
    EXPECT_EQ(ReadFile(Out()), std::string(cwd) + "\n");
    ::unlink(Out().c_str());
    ASSERT_TRUE(StartProcess("\"" + FProgram + "\"", 1, -1));
    EXPECT_EQ(ReadFile(Out()), std::string(cwd) + "\n");
}

TEST_F(StartProcessTest, NoShellIsInvolved)
{
    const std::string cmd = "\"" + FProgram + "\" '$HOME' ;rm `id` >x";
    ASSERT_TRUE(StartProcess(cmd, 1, -1));
    EXPECT_EQ(ReadFile(Out()), FFolder + "\n['$HOME']\n[;rm]\n[`id`]\n[>x]\n");
}

TEST_F(StartProcessTest, FailedStartIsReported)
{
    EXPECT_FALSE(StartProcess("\"" + FRoot + "/missing\" a", 1, -1));
    EXPECT_FALSE(StartProcess("no-such-program-ternbell a", 1, 0));
    EXPECT_FALSE(StartProcess("", 1, 0));
    EXPECT_FALSE(StartProcess("   ", 1, 0));
}

TEST(Utils, StartFolderOf)
{
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    const std::string here = std::string(cwd) + "/";
    struct Case
    {
        const char* commandLine;
        std::string expected;
    };
    const Case cases[] = {
        {"\"/opt/Mail App/mail\" -compose", "/opt/Mail App/"},
        {"/usr/bin/mail -compose", "/usr/bin/"},
        {"/opt/Mail App/mail -compose", "/opt/"}, // unquoted: cut at the first blank
        {"\"/opt/Mail App/mail\"", ""},           // nothing follows: no path
        {"/usr/bin/mail", ""},
        {"mail -compose", here},
        {"bin/mail x", here + "bin/"},
        {"\"/opt/a\"\"b/mail\" x", "/opt/a\"b/"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StartFolderOf(c.commandLine), c.expected) << c.commandLine;
}

// With a home such as /home/josé the current folder came back as locale bytes
// mixed into desktop text, and a program without a slash never started.
TEST(Utils, NonAsciiCurrentFolderStillStartsProgramsWithoutASlash)
{
    TempFolder root("utils");
    const std::string folder = root.File("jos\xc3\xa9");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    char before[PATH_MAX];
    ASSERT_NE(::getcwd(before, sizeof before), nullptr);
    ASSERT_EQ(::chdir(folder.c_str()), 0);
    const std::string desktopFolder = FileNameToCodePage(folder);
    EXPECT_EQ(CodePageToFileName(desktopFolder), folder);
    EXPECT_EQ(StartFolderOf("touch marker"), desktopFolder + "/");
    const bool started = StartProcess("touch marker", 0, 5000);
    ASSERT_EQ(::chdir(before), 0);
    EXPECT_TRUE(started);
    struct stat st;
    EXPECT_EQ(::stat((folder + "/marker").c_str(), &st), 0);
}

// A folder such as .../é/bin read from the system is desktop text only after
// conversion: é is one character in the code page, not two.
TEST(Utils, NonAsciiFileNamesConvertOnceEachWay)
{
    const std::string name = "/opt/\xc3\xa9/bin/";
    const std::string desktop = FileNameToCodePage(name);
    EXPECT_EQ(FromCodePage(desktop), QString::fromUtf8("/opt/\xc3\xa9/bin/"));
    EXPECT_EQ(CodePageToFileName(desktop), name);
}
