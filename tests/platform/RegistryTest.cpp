#include "platform/Registry.h"
#include "support/Environment.h"
#include "support/FileSizeLimit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace orvel {
namespace {

namespace fs = std::filesystem;

using Kind = TRegValue::TKind;
using Values = std::vector<std::pair<std::string, TRegValue>>;

const std::string kKey = "HKEY_CURRENT_USER\\Software\\Orvel\\OrvelWddx";

std::string Utf16Le(std::u16string_view text)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

struct ParseCase
{
    const char* Label;
    std::string Bytes;
    Values Expected; // of kKey
};

TEST(RegistryFile, ReadsTheFormatsRegeditAndEditorsWrite)
{
    const std::vector<ParseCase> cases = {
        {"escapes, CR LF",
         "Windows Registry Editor Version 5.00\r\n\r\n[" + kKey +
             "]\r\n\"User\"=\"a\\\\b \\\"q\\\"\"\r\n\"Pass\"=\"\"\r\n\"SSL\"=dword:00000001\r\n",
         {{"User", TRegValue::String("a\\b \"q\"")}, {"Pass", TRegValue::String("")}, {"SSL", TRegValue::Dword(1)}}},
        {"LF only, upper-case digits, negative dword",
         "Windows Registry Editor Version 5.00\n[" + kKey + "]\n\"C\"=dword:FFFFFFFF\n\"P\"=dword:2a\n",
         {{"C", TRegValue::Dword(0xFFFFFFFF)}, {"P", TRegValue::Dword(42)}}},
        {"UTF-8 byte order mark, umlauts and beyond Windows-1252",
         "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n[" + kKey +
             "]\r\n\"User\"=\"J\xC3\xBCrgen \xC5\x81ukasz \xE2\x82\xAC \xF0\x9F\x98\x80\"\r\n",
         {{"User", TRegValue::String("J\xC3\xBCrgen \xC5\x81ukasz \xE2\x82\xAC \xF0\x9F\x98\x80")}}},
        {"UTF-16LE as regedit exports",
         Utf16Le(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Orvel\\OrvelWddx]\r\n"
                 u"\"User\"=\"M\u00FCller \u0141\"\r\n\"DoWeb\"=dword:00000000\r\n\r\n"),
         {{"User", TRegValue::String("M\xC3\xBCller \xC5\x81")}, {"DoWeb", TRegValue::Dword(0)}}},
        {"blank lines, comments, trailing blanks, REGEDIT4",
         "\r\n; settings\r\nREGEDIT4\r\n\r\n;[HKEY_CURRENT_USER\\Other]\r\n[" + kKey +
             "]  \r\n\r\n; the user\r\n\"User\"=\"x\"  \r\n",
         {{"User", TRegValue::String("x")}}},
        {"other kinds kept with their continuation lines; the default value",
         "Windows Registry Editor Version 5.00\r\n[" + kKey +
             "]\r\n@=\"d\"\r\n\"Bin\"=hex:01,02,\\\r\n  03,04\r\n\"Gone\"=-\r\n\"After\"=\"a\"\r\n",
         {{"", TRegValue::String("d")},
          {"Bin", {Kind::Other, "hex:01,02,\\\r\n  03,04", 0}},
          {"Gone", {Kind::Other, "-", 0}},
          {"After", TRegValue::String("a")}}},
        {"a key twice is one key, a value twice keeps the later, names ignore case",
         "Windows Registry Editor Version 5.00\r\n[" + kKey +
             "]\r\n\"User\"=\"1\"\r\n[hkey_current_user\\software\\orvel\\"
             "orvelwddx]\r\n\"USER\"=\"2\"\r\n\"Pass\"=\"p\"\r\n",
         {{"User", TRegValue::String("2")}, {"Pass", TRegValue::String("p")}}},
        {"a backslash before another character stays",
         "Windows Registry Editor Version 5.00\r\n[" + kKey + "]\r\n\"Path\"=\"C:\\temp\"\r\n",
         {{"Path", TRegValue::String("C:\\temp")}}},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.Label);
        TRegFile file;
        ASSERT_NO_THROW(file = ParseRegFile(c.Bytes));
        const TRegKey* key = file.Find(kKey);
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(key->Values, c.Expected);
        // What is written reads back the same.
        EXPECT_EQ(ParseRegFile(FormatRegFile(file)).Keys.size(), file.Keys.size());
        EXPECT_EQ(ParseRegFile(FormatRegFile(file)).Find(kKey)->Values, c.Expected);
    }
}

TEST(RegistryFile, RefusesTextInAnotherFormat)
{
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty", ""},
        {"only comments", "; nothing\r\n"},
        {"no header", "[" + kKey + "]\r\n\"User\"=\"x\"\r\n"},
        {"an ini file", "[General]\r\nUser=x\r\n"},
        {"value before any key", "Windows Registry Editor Version 5.00\r\n\"User\"=\"x\"\r\n"},
        {"unclosed quote", "Windows Registry Editor Version 5.00\r\n[" + kKey + "]\r\n\"User\"=\"x\r\n"},
        {"no equals sign", "Windows Registry Editor Version 5.00\r\n[" + kKey + "]\r\n\"User\" \"x\"\r\n"},
        {"dword too long", "Windows Registry Editor Version 5.00\r\n[" + kKey + "]\r\n\"C\"=dword:000000001\r\n"},
        {"dword not hex", "Windows Registry Editor Version 5.00\r\n[" + kKey + "]\r\n\"C\"=dword:1g\r\n"},
        {"text after the value", "Windows Registry Editor Version 5.00\r\n[" + kKey + "]\r\n\"U\"=\"x\" y\r\n"},
        {"unclosed key", "Windows Registry Editor Version 5.00\r\n[" + kKey + "\r\n"},
        {"odd UTF-16", Utf16Le(u"Windows Registry Editor Version 5.00\r\n") + "x"},
    };
    for (const auto& [label, bytes] : cases) {
        SCOPED_TRACE(label);
        EXPECT_THROW(ParseRegFile(bytes), RegistryError);
    }
}

TEST(RegistryFile, WritesCrLfUtf8WithEscapes)
{
    TRegFile file;
    TRegKey& key = file.FindOrAdd(kKey);
    key.Set("User", TRegValue::String("a\"b\\c \xC3\xA4"));
    key.Set("C", TRegValue::Dword(0xFFFFFFFF));
    key.Set("", TRegValue::String("d"));
    EXPECT_EQ(FormatRegFile(file),
              "Windows Registry Editor Version 5.00\r\n\r\n[" + kKey +
                  "]\r\n\"User\"=\"a\\\"b\\\\c \xC3\xA4\"\r\n\"C\"=dword:ffffffff\r\n@=\"d\"\r\n\r\n");
}

// Each test in a folder of its own, removed afterwards.
class RegistryStore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Folder = fs::temp_directory_path() / ("orvel-registry-" + std::to_string(::getpid()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(Folder);
        File = (Folder / "OrvelWddx" / "user.reg").string();
    }
    void TearDown() override { fs::remove_all(Folder); }

    void Store(const std::string& text)
    {
        fs::create_directories(fs::path(File).parent_path());
        std::ofstream(File, std::ios::binary) << text;
    }
    std::string Stored() const
    {
        std::ifstream in(File, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::vector<fs::path> Entries() const
    {
        std::vector<fs::path> names;
        for (const auto& entry : fs::directory_iterator(fs::path(File).parent_path()))
            names.push_back(entry.path().filename());
        return names;
    }

    fs::path Folder;
    std::string File;
};

TEST_F(RegistryStore, OpeningCreatesTheKeyAndMissingValuesFallBack)
{
    TRegistry registry(File);
    EXPECT_FALSE(registry.OpenKey("\\Software\\Orvel\\OrvelWddx", false));
    EXPECT_FALSE(fs::exists(File));
    ASSERT_TRUE(registry.OpenKey("\\Software\\Orvel\\OrvelWddx", true));
    EXPECT_EQ(Stored(), "Windows Registry Editor Version 5.00\r\n\r\n[" + kKey + "]\r\n\r\n");
    EXPECT_EQ(registry.ReadString("User"), "");
    EXPECT_THROW(registry.ReadInteger("C"), RegistryError);
    EXPECT_THROW(registry.ReadBool("SSL"), RegistryError);
}

TEST_F(RegistryStore, AValueOfAnotherKindIsUnreadable)
{
    Store("Windows Registry Editor Version 5.00\r\n[" + kKey +
          "]\r\n\"User\"=dword:00000001\r\n\"C\"=\"1\"\r\n\"SSL\"=hex:01\r\n\"DoWeb\"=dword:00000007\r\n");
    TRegistry registry(File);
    ASSERT_TRUE(registry.OpenKey("\\Software\\Orvel\\OrvelWddx", false));
    EXPECT_THROW(registry.ReadString("User"), RegistryError);
    EXPECT_THROW(registry.ReadInteger("C"), RegistryError);
    EXPECT_THROW(registry.ReadBool("SSL"), RegistryError);
    EXPECT_TRUE(registry.ReadBool("DoWeb"));
}

TEST_F(RegistryStore, WritesKeepWhatOthersStoredEvenAfterTheKeyWasOpened)
{
    Store("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n\"A\"=\"1\"\r\n\r\n[" +
          kKey + "]\r\n\"Bin\"=hex:01,\\\r\n  02\r\n\"User\"=\"old\"\r\n\r\n");
    TRegistry registry(File);
    ASSERT_TRUE(registry.OpenKey("\\Software\\Orvel\\OrvelWddx", true));
    Store(Stored() + "[" + kKey + "]\r\n\"Later\"=\"by hand\"\r\n");

    registry.WriteString("User", "J\xC3\xBCrgen \xC5\x81");
    registry.WriteInteger("C", -1);
    registry.WriteBool("SSL", true);
    EXPECT_EQ(Stored(), "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Other]\r\n"
                        "\"A\"=\"1\"\r\n\r\n[" +
                            kKey +
                            "]\r\n\"Bin\"=hex:01,\\\r\n  02\r\n\"User\"=\"J\xC3\xBC"
                            "rgen \xC5\x81\"\r\n\"Later\"=\"by hand\"\r\n\"C\"=dword:ffffffff\r\n"
                            "\"SSL\"=dword:00000001\r\n\r\n");
    EXPECT_EQ(registry.ReadInteger("C"), -1);
    EXPECT_EQ(Entries(), std::vector<fs::path>{"user.reg"}); // no temporary file stays
}

TEST_F(RegistryStore, ABrokenFileIsMovedAsideAndReadAsNoKey)
{
    const std::string broken = "[General]\r\nUser=x\r\n";
    Store(broken);
    TRegistry registry(File);
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(registry.OpenKey("\\Software\\Orvel\\OrvelWddx", true));
    const std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(registry.ReadString("User"), "");

    std::vector<fs::path> entries = Entries();
    std::sort(entries.begin(), entries.end());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], "user.reg");
    EXPECT_TRUE(entries[1].string().starts_with("user.reg.broken-")) << entries[1];
    std::ifstream aside(fs::path(File).parent_path() / entries[1], std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(aside), {}), broken);
    EXPECT_NE(report.find(entries[1].string()), std::string::npos) << report;
    EXPECT_NE(report.find("line 1"), std::string::npos) << report;
}

TEST_F(RegistryStore, AFailedWriteLeavesTheEarlierFile)
{
    TRegistry registry(File);
    ASSERT_TRUE(registry.OpenKey("\\Software\\Orvel\\OrvelWddx", true));
    registry.WriteString("User", "kept");
    const std::string before = Stored();

    {
        // A disk that is full for anything longer than the file is now.
        test::ScopedFileSizeLimit full(before.size());
        EXPECT_THROW(registry.WriteString("User", "a longer name than before"), RegistryError);
    }
    EXPECT_EQ(Stored(), before);
    EXPECT_EQ(Entries(), std::vector<fs::path>{"user.reg"});
}

// Runs Body in a child process that cannot write to Folder: a read-only folder, and for root, whom modes do not stop,
// an unprivileged user owning it. Returns Body's result, or -1 when the child could not get there.
int WithReadOnlyFolder(const fs::path& Folder, const std::function<int()>& Body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0) {
            constexpr uid_t kNobody = 65534;
            bool owned = ::chown(Folder.c_str(), kNobody, kNobody) == 0;
            for (const auto& entry : fs::recursive_directory_iterator(Folder))
                owned = owned && ::chown(entry.path().c_str(), kNobody, kNobody) == 0;
            if (!owned || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                ::_exit(255);
        }
        const fs::path settings = fs::path(Folder) / "OrvelWddx";
        if (::chmod(settings.c_str(), 0555) != 0 || ::access(settings.c_str(), W_OK) == 0)
            ::_exit(255);
        ::_exit(Body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) != 255 ? WEXITSTATUS(status) : -1;
}

TEST_F(RegistryStore, AnUnwritableFolderLosesNothingStored)
{
    {
        TRegistry registry(File);
        ASSERT_TRUE(registry.OpenKey("\\Software\\Orvel\\OrvelWddx", true));
        registry.WriteString("User", "kept");
    }
    const std::string before = Stored();
    const int outcome = WithReadOnlyFolder(Folder, [this] {
        TRegistry registry(File);
        if (!registry.OpenKey("\\Software\\Orvel\\OrvelWddx", true) || registry.ReadString("User") != "kept")
            return 1;
        try {
            registry.WriteString("User", "new");
        } catch (const RegistryError&) {
            return 0;
        }
        return 2;
    });
    ASSERT_EQ(outcome, 0) << "1: not read, 2: no error, -1: no read-only folder to be had";
    EXPECT_EQ(Stored(), before);
    EXPECT_EQ(Entries(), std::vector<fs::path>{"user.reg"});
}

TEST_F(RegistryStore, ABrokenFileThatCannotBeMovedAsideStaysAsItIs)
{
    const std::string broken = "[General]\r\nUser=x\r\n";
    Store(broken);
    const int outcome = WithReadOnlyFolder(Folder, [this] {
        TRegistry registry(File);
        try {
            registry.OpenKey("\\Software\\Orvel\\OrvelWddx", true);
            registry.WriteString("User", "new");
        } catch (const RegistryError&) {
            return 0;
        }
        return 2;
    });
    ASSERT_EQ(outcome, 0) << "2: no error, -1: no read-only folder to be had";
    EXPECT_EQ(Stored(), broken);
    EXPECT_EQ(Entries(), std::vector<fs::path>{"user.reg"});
}

TEST_F(RegistryStore, AKeyThatCannotBeCreatedDoesNotOpen)
{
    fs::create_directories(Folder);
    std::ofstream(Folder / "OrvelWddx") << "a file where the folder belongs";
    TRegistry registry(File);
    EXPECT_FALSE(registry.OpenKey("\\Software\\Orvel\\OrvelWddx", true));
    EXPECT_THROW(registry.WriteString("User", "x"), RegistryError);
}

TEST(RegistryLocation, FollowsXdgConfigHome)
{
    {
        test::ScopedEnvironment set("XDG_CONFIG_HOME", "/tmp/cfg");
        EXPECT_EQ(UserRegistryFile(), "/tmp/cfg/OrvelWddx/user.reg");
    }
    test::ScopedEnvironment relative("XDG_CONFIG_HOME", "relative");
    EXPECT_EQ(UserRegistryFile(), std::string(std::getenv("HOME")) + "/.config/OrvelWddx/user.reg");
}

} // namespace
} // namespace orvel
