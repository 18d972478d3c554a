// settings.toml: the value grammar and the remembered game folder, on real
// files, including files that are not text or not files at all.
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "runtime/settings/options.h"
#include "runtime/settings/settings.h"

namespace fs = std::filesystem;

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

TEST(SettingsValue, TrimTouchesOnlySpacesTabsAndLineEnds) {
    EXPECT_EQ(settings::Trim(" \t\r\n a b \n\r\t "), "a b");
    EXPECT_EQ(settings::Trim("\f x \v"), "\f x \v");
    EXPECT_EQ(settings::Trim(" \t "), "");
}

TEST(SettingsValue, ParseValueTable) {
    struct Case {
        const char* raw;
        const char* value;
        bool isString;
    } cases[] = {
        {"", "", false},
        {"   ", "", false},
        {" 42 ", "42", false},
        {"fullscreen # the whole screen", "fullscreen", false},
        {"# only a comment", "", false},
        {"a b  #c", "a b", false},
        {R"("C:\Games\Velkor # 1")", R"(C:\Games\Velkor # 1)", true},
        {R"( "quoted" trailing # junk "more" )", "quoted", true},
        {R"("unterminated \ value  )", R"(unterminated \ value)", true},
        {R"("")", "", true},
        {"\"\\\"\"", "\\", true},  // no escapes: the backslash ends nothing
    };
    for (const Case& c : cases) {
        bool isString = !c.isString;
        EXPECT_EQ(settings::ParseValue(c.raw, isString), c.value) << c.raw;
        EXPECT_EQ(isString, c.isString) << c.raw;
    }
}

TEST(SettingsGameFolder, TableOfFiles) {
    struct Case {
        const char* name;
        std::string text;
        std::string game;
    } cases[] = {
        {"plain", "[paths]\ngame = \"/srv/velkor\"\n", "/srv/velkor"},
        {"capital section and key", "[PATHS]\nGame = /srv/x\n", "/srv/x"},
        {"section with blanks", "[  Paths  ] # note\nGAME=/a\n", "/a"},
        {"section without bracket", "[paths\ngame = /b\n", "/b"},
        {"quoted keeps hash and backslashes", "[paths]\ngame = \"D:\\Jogos\\Velkor #2\"  # comment\n",
         "D:\\Jogos\\Velkor #2"},
        {"unquoted inline comment", "[paths]\ngame =   /srv/game   # the dump\n", "/srv/game"},
        {"CR LF line ends", "# c\r\n[paths]\r\ngame = \"/srv/crlf\"\r\n", "/srv/crlf"},
        {"unquoted CR LF", "[paths]\r\ngame = /srv/crlf2\r\n", "/srv/crlf2"},
        {"key in another section", "[video]\ngame = /no\n[paths]\nother = 1\n", ""},
        {"key before any section", "game = /no\n[paths]\n", ""},
        {"second game line never read", "[paths]\ngame =\ngame = /second\n", ""},
        {"first of two wins", "[paths]\ngame = /first\ngame = /second\n", "/first"},
        {"later paths section", "[video]\nwindow = \"fullscreen\"\n[paths]\ngame = /late\n", "/late"},
        {"line without equals skipped", "[paths]\ngame /nope\ngame = /yes\n", "/yes"},
        {"gamepath is another key", "[paths]\ngamepath = /no\n", ""},
        {"no final newline", "[paths]\ngame = /end", "/end"},
        {"comment line", "[paths]\n# game = /no\n", ""},
        {"indented", "  [paths]  \n\tgame\t=\t/tab\t\n", "/tab"},
        {"empty", "", ""},
    };
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    for (const Case& c : cases) {
        WriteFile(dir.path() / "settings.toml", c.text);
        EXPECT_EQ(settings::ReadGameFolder(dir.path()), c.game) << c.name;
        EXPECT_EQ(settings::GameFolderFromText(c.text), c.game) << c.name;
    }
}

TEST(SettingsGameFolder, MissingFileOrFolderGivesEmpty) {
    TempDir dir;
    EXPECT_EQ(settings::ReadGameFolder(dir.path()), "");
    EXPECT_EQ(settings::ReadGameFolder(dir.path() / "absent"), "");
    fs::create_directory(dir.path() / "settings.toml");
    EXPECT_EQ(settings::ReadGameFolder(dir.path()), "");
}

// Opening a FIFO for reading would wait for a writer forever.
TEST(SettingsGameFolder, FifoIsRefusedWithoutBlocking) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir.path() / "settings.toml").c_str(), 0600), 0);
    EXPECT_EQ(settings::ReadGameFolder(dir.path()), "");
}

TEST(SettingsGameFolder, BinaryJunkAndHugeLines) {
    TempDir dir;
    std::mt19937 random(1234);
    std::string junk(256 * 1024, '\0');
    for (char& c : junk) c = static_cast<char>(random());
    WriteFile(dir.path() / "settings.toml", junk);
    settings::ReadGameFolder(dir.path());  // any answer, no crash

    // Junk before the real lines does not hide them.
    std::string text = junk;
    text += "\n[paths]\ngame = /after/junk\n";
    WriteFile(dir.path() / "settings.toml", text);
    EXPECT_EQ(settings::ReadGameFolder(dir.path()), "/after/junk");

    // One 10 MB line, with no line feed at all, and as the value itself.
    const std::string big(10 * 1024 * 1024, 'x');
    WriteFile(dir.path() / "settings.toml", big);
    EXPECT_EQ(settings::ReadGameFolder(dir.path()), "");
    WriteFile(dir.path() / "settings.toml", "[paths]\ngame = \"" + big + "\"");
    EXPECT_EQ(settings::ReadGameFolder(dir.path()), big);
    WriteFile(dir.path() / "settings.toml", big + "\n[paths]\ngame = /after/big");
    EXPECT_EQ(settings::ReadGameFolder(dir.path()), "/after/big");
}

TEST(SettingsValues, DefaultsAndLanguage) {
    settings::Values values;
    EXPECT_EQ(values.language, "english");
    EXPECT_FALSE(settings::options::Portuguese(values));
    for (const char* id : {"pt-br", "pt", "ptx"}) {
        values.language = id;
        EXPECT_TRUE(settings::options::Portuguese(values)) << id;
    }
    for (const char* id : {"p", "", "PT-BR", "english", "spt"}) {
        values.language = id;
        EXPECT_FALSE(settings::options::Portuguese(values)) << id;
    }
}

} // namespace
