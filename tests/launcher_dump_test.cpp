// The dump check, the search under a picked parent folder, and the dump prompt
// driven through the zenity stand-in.
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "launcher/dialogs.h"
#include "launcher/dump.h"
#include "launcher/installer.h"
#include "launcher/launcher.h"
#include "launcher/setup_script.h"
#include "launcher/sha256.h"

namespace fs = std::filesystem;

namespace {

using testsupport::TempDir;

void WriteFile(const fs::path& p, const std::string& data) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << data;
}

// The synthetic dump's default.xex that this test program accepts.
std::string SyntheticXex() {
    std::string data(65536, '\0');
    data[0] = 'X', data[1] = 'E', data[2] = 'X', data[3] = '2';
    for (uint64_t i = 4; i < data.size(); ++i) data[i] = char(((i * 2654435761u) & 0xffffffffu) >> 24);
    return data;
}

// A dump folder; `skip` names the file (or "shaders") to leave out.
void MakeDump(const fs::path& folder, const std::string& skip = "", const std::string& xex = SyntheticXex()) {
    fs::create_directories(folder);
    for (const char* name : {"default.rcf", "english.rcf", "sound1.rcf", "sound2.rcf"})
        if (skip != name) WriteFile(folder / name, "RCF");
    if (skip != "default.xex") WriteFile(folder / "default.xex", xex);
    if (skip != "shaders") fs::create_directories(folder / "shaders");
}

void ExpectProblem(const DumpProblem& p, const std::vector<std::string>& lines) {
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(p.en[0], lines[0]);
    EXPECT_EQ(p.en[1], lines[1]);
    EXPECT_EQ(p.pt[0], lines[2]);
    EXPECT_EQ(p.pt[1], lines[3]);
    EXPECT_EQ(p.Ok(), lines[0].empty());
}

const std::vector<std::string> NOT_CHOSEN = {"No game folder chosen.", "", "Nenhuma pasta do jogo escolhida.", ""};
const std::string ALL_MISSING = "default.xex, english.rcf, sound1.rcf, sound2.rcf, shaders\\";

std::vector<std::string> NoXex(const std::string& missing) {
    return {"This is not the folder of the game (no default.xex).", "Missing: " + missing,
            "Esta não é a pasta do jogo (não tem default.xex).", "Faltam: " + missing};
}
std::vector<std::string> Incomplete(const std::string& missing) {
    return {"The game files are incomplete.", "Missing: " + missing, "Os arquivos do jogo estão incompletos.",
            "Faltam: " + missing};
}
std::vector<std::string> WrongVersion(const std::string& shown) {
    return {"This default.xex is not the version the port supports.",
            "It needs Velkor of the Ombrax for Xbox 360 (retail disc, title 4D5A0F31); SHA-256 " + shown,
            "Este default.xex não é a versão que o port suporta.",
            "Ele precisa do Velkor of the Ombrax de Xbox 360 (disco comercial, título 4D5A0F31); SHA-256 " + shown};
}

TEST(CheckDump, Verdicts) {
    TempDir t;
    struct Case {
        const char* name;
        std::function<fs::path(const fs::path&)> make;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"empty path", [](const fs::path&) { return fs::path(); }, NOT_CHOSEN},
        {"missing folder", [](const fs::path& d) { return d / "nowhere"; }, NOT_CHOSEN},
        {"a file, not a folder",
         [](const fs::path& d) {
             WriteFile(d / "file", "x");
             return d / "file";
         },
         NOT_CHOSEN},
        {"only default.rcf",
         [](const fs::path& d) {
             WriteFile(d / "default.rcf", "RCF");
             return d;
         },
         NoXex(ALL_MISSING)},
        {"no shaders",
         [](const fs::path& d) {
             MakeDump(d, "shaders");
             return d;
         },
         Incomplete("shaders\\")},
        {"shaders is a file",
         [](const fs::path& d) {
             MakeDump(d, "shaders");
             WriteFile(d / "shaders", "");
             return d;
         },
         Incomplete("shaders\\")},
        {"no english.rcf, no sound2.rcf",
         [](const fs::path& d) {
             MakeDump(d, "english.rcf");
             fs::remove(d / "sound2.rcf");
             return d;
         },
         Incomplete("english.rcf, sound2.rcf")},
        {"default.xex a symbolic link to the dump file",
         [](const fs::path& d) {
             MakeDump(d / "dump", "default.xex");
             WriteFile(d / "elsewhere" / "image.bin", SyntheticXex());
             fs::create_symlink(d / "elsewhere" / "image.bin", d / "dump" / "default.xex");
             return d / "dump";
         },
         {"", "", "", ""}},
        {"default.xex a dangling link",
         [](const fs::path& d) {
             MakeDump(d, "default.xex");
             fs::create_symlink(d / "gone", d / "default.xex");
             return d;
         },
         NoXex("default.xex")},
        {"default.xex a folder",
         [](const fs::path& d) {
             MakeDump(d, "default.xex");
             fs::create_directories(d / "default.xex");
             return d;
         },
         NoXex("default.xex")},
        {"default.xex a FIFO",
         [](const fs::path& d) {
             MakeDump(d, "default.xex");
             EXPECT_EQ(mkfifo((d / "default.xex").c_str(), 0644), 0);
             return d;
         },
         NoXex("default.xex")},
        {"default.xex a regular file whose reading fails (works as root too)",
         [](const fs::path& d) {
             MakeDump(d, "default.xex");
             fs::create_symlink("/proc/self/mem", d / "default.xex");
             return d;
         },
         WrongVersion("...")},
        {"wrong default.xex",
         [](const fs::path& d) {
             MakeDump(d, "", "hello");
             return d;
         },
         WrongVersion("2cf24dba5fb0a30e...")},
        {"compatible",
         [](const fs::path& d) {
             MakeDump(d);
             return d;
         },
         {"", "", "", ""}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = c.make(t.path() / std::to_string(n++));
        ExpectProblem(CheckDump(folder), c.expected);
    }
}

TEST(CheckDump, UnreadableXexIsTheWrongVersionWithNoDigest) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
    TempDir t;
    MakeDump(t.path());
    fs::permissions(t.path() / "default.xex", fs::perms::none);
    ExpectProblem(CheckDump(t.path()), WrongVersion("..."));
}

TEST(CheckDump, SyntheticXexHasTheExpectedDigest) {
    TempDir t;
    WriteFile(t.path() / "x", SyntheticXex());
    EXPECT_EQ(Sha256File(t.path() / "x"), VELKOR_SYNTHETIC_XEX_SHA256);
}

TEST(FindDumpIn, PicksTheFolderOrADirectSubFolder) {
    TempDir t;
    MakeDump(t.path() / "dump");
    MakeDump(t.path() / "deep" / "one" / "dump");
    fs::create_directories(t.path() / "decoy" / "default.xex"); // a folder named default.xex
    fs::create_directories(t.path() / "decoyparent" / "decoy" / "default.xex");

    EXPECT_EQ(FindDumpIn(t.path() / "dump"), t.path() / "dump");
    EXPECT_EQ(FindDumpIn(t.path()), t.path() / "dump");
    EXPECT_EQ(FindDumpIn(t.path() / "deep"), t.path() / "deep");
    EXPECT_EQ(FindDumpIn(t.path() / "deep" / "one"), t.path() / "deep" / "one" / "dump");
    EXPECT_EQ(FindDumpIn(t.path() / "decoyparent"), t.path() / "decoyparent");
    EXPECT_EQ(FindDumpIn(t.path() / "missing"), t.path() / "missing");
}

TEST(AskButtons, WithoutAMessageBoxSystemItAnswersMinusOne) {
    setenv("SDL_VIDEO_DRIVER", "offscreen", 1);
    EXPECT_EQ(AskButtons("title", "text", {"Yes", "No"}, false), -1);
    EXPECT_EQ(AskButtons("title", "text", {"Only"}, true), -1);
}

// --- The prompt ---------------------------------------------------------------

struct Question {
    std::string title, text;
    std::vector<std::string> buttons;
    bool warning;
};
std::vector<Question> g_questions;
std::vector<int> g_answers;

int RecordQuestion(const char* title, const std::string& text, std::initializer_list<const char*> buttons,
                   bool warning) {
    g_questions.push_back({title, text, std::vector<std::string>(buttons.begin(), buttons.end()), warning});
    if (g_answers.empty()) return -1;
    const int a = g_answers.front();
    g_answers.erase(g_answers.begin());
    return a;
}

const char* const LANGUAGE_VARS[] = {"VELKOR_SETUP_LANGUAGE", "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};

class AskForDumpTest : public ::testing::Test {
protected:
    TempDir t;
    fs::path standinLog = t.path() / "standin.log";

    void SetUp() override {
        setenv("PATH", VELKOR_SOURCE_DIR "/tests/support/bin:/usr/bin:/bin", 1);
        setenv("STANDIN_LOG", standinLog.c_str(), 1);
        setenv("STANDIN_ANSWERS", (t.path() / "answers").c_str(), 1);
        for (const char* v : LANGUAGE_VARS) unsetenv(v);
        g_questions.clear();
        g_answers.clear();
        SetAskButtonsForTesting(RecordQuestion);
    }
    void TearDown() override { SetAskButtonsForTesting(nullptr); }

    // Answers of the folder picker, one per call: "1" cancels, "0 <folder>" picks.
    void Picks(const std::vector<std::string>& answers) {
        fs::remove(t.path() / "answers.pos");
        std::ofstream out(t.path() / "answers");
        for (const std::string& a : answers) out << a << "\n";
    }
    std::vector<std::string> PickerCalls() {
        std::vector<std::string> calls;
        std::ifstream in(standinLog);
        for (std::string line; std::getline(in, line);)
            if (line.find("--file-selection") != std::string::npos) calls.push_back(line);
        return calls;
    }
};

const char* const EN_PROMPT =
    "Choose the folder of your Velkor of the Ombrax (Xbox 360): the one with default.xex and default.rcf";
const char* const PT_PROMPT =
    "Escolha a pasta do seu Velkor of the Ombrax (Xbox 360): a que tem default.xex e default.rcf";
const char* const EN_TITLE = "Velkor of the Ombrax: Lumenfall - Setup";
const char* const PT_TITLE = "Velkor of the Ombrax: Lumenfall - Instalação";
const char* const EN_NEED =
    "The installer needs the folder of your Velkor of the Ombrax (Xbox 360) to go on: the game is built from "
    "it, and no game file comes with the installer.\n\nChoose the folder now?";
const char* const PT_NEED =
    "O instalador precisa da pasta do seu Velkor of the Ombrax (Xbox 360) para continuar: o jogo é montado a "
    "partir dela, e nenhum arquivo do jogo vem no instalador.\n\nEscolher a pasta agora?";

TEST_F(AskForDumpTest, CancelThenQuit) {
    Picks({"1"});
    g_answers = {1};
    EXPECT_TRUE(AskForDump(nullptr).empty());
    ASSERT_EQ(g_questions.size(), 1u);
    EXPECT_EQ(g_questions[0].title, EN_TITLE);
    EXPECT_EQ(g_questions[0].text, EN_NEED);
    EXPECT_EQ(g_questions[0].buttons, (std::vector<std::string>{"Choose", "Quit"}));
    EXPECT_FALSE(g_questions[0].warning);
    const auto calls = PickerCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_NE(calls[0].find("\"zenity\""), std::string::npos) << calls[0];
    EXPECT_NE(calls[0].find(std::string("\"--title=") + EN_PROMPT + "\""), std::string::npos) << calls[0];
}

TEST_F(AskForDumpTest, CancelThenChooseThenAGoodFolder) {
    MakeDump(t.path() / "good");
    Picks({"1", "0 " + (t.path() / "good").string()});
    g_answers = {0};
    EXPECT_EQ(AskForDump(nullptr), t.path() / "good");
    EXPECT_EQ(g_questions.size(), 1u);
    EXPECT_EQ(PickerCalls().size(), 2u);
}

TEST_F(AskForDumpTest, AQuestionThatCannotBeShownEndsTheLoop) {
    Picks({"1", "0 " + t.path().string()});
    g_answers = {-1};
    EXPECT_TRUE(AskForDump(nullptr).empty());
    EXPECT_EQ(PickerCalls().size(), 1u);
}

TEST_F(AskForDumpTest, WrongFolderThenRetryThenAGoodFolder) {
    fs::create_directories(t.path() / "wrong");
    MakeDump(t.path() / "games" / "velkor");
    Picks({"0 " + (t.path() / "wrong").string(), "0 " + (t.path() / "games").string()});
    g_answers = {0};
    EXPECT_EQ(AskForDump(nullptr), t.path() / "games" / "velkor"); // the parent picks its sub-folder
    ASSERT_EQ(g_questions.size(), 1u);
    EXPECT_EQ(g_questions[0].title, EN_TITLE);
    EXPECT_EQ(g_questions[0].text,
              (t.path() / "wrong").string() +
                  "\n\nThis is not the folder of the game (no default.xex).\nMissing: default.xex, default.rcf, "
                  "english.rcf, sound1.rcf, sound2.rcf, shaders\\" +
                  "\n\nChoose the folder with the files of your game disc (default.xex, default.rcf, english.rcf, "
                  "sound1.rcf, sound2.rcf and shaders/).");
    EXPECT_EQ(g_questions[0].buttons, (std::vector<std::string>{"Retry", "Cancel"}));
    EXPECT_TRUE(g_questions[0].warning);
}

TEST_F(AskForDumpTest, WrongVersionThenCancel) {
    MakeDump(t.path() / "old", "", "hello");
    Picks({"0 " + (t.path() / "old").string()});
    g_answers = {1};
    EXPECT_TRUE(AskForDump(nullptr).empty());
    ASSERT_EQ(g_questions.size(), 1u);
    EXPECT_EQ(g_questions[0].text,
              (t.path() / "old").string() +
                  "\n\nThis default.xex is not the version the port supports.\nIt needs Velkor of the Ombrax for "
                  "Xbox 360 (retail disc, title 4D5A0F31); SHA-256 2cf24dba5fb0a30e...\n\nChoose the folder "
                  "with the files of your game disc (default.xex, default.rcf, english.rcf, sound1.rcf, "
                  "sound2.rcf and shaders/).");
}

TEST_F(AskForDumpTest, LanguageFollowsTheEnvironment) {
    struct Case {
        std::vector<std::pair<const char*, const char*>> env;
        bool pt;
    };
    const std::vector<Case> cases = {
        {{}, false},
        {{{"LANGUAGE", "pt_BR"}, {"LANG", "en_US.UTF-8"}}, true},
        {{{"VELKOR_SETUP_LANGUAGE", "en"}, {"LANG", "pt_BR"}}, false},
        {{{"VELKOR_SETUP_LANGUAGE", ""}, {"LANGUAGE", ""}, {"LC_ALL", "PT_pt"}}, true},
        {{{"LC_MESSAGES", "de_DE"}, {"LANG", "pt_BR"}}, false},
    };
    for (const Case& c : cases) {
        for (const char* v : LANGUAGE_VARS) unsetenv(v);
        for (const auto& [name, value] : c.env) setenv(name, value, 1);
        fs::remove(standinLog);
        g_questions.clear();
        Picks({"1"});
        g_answers = {1};
        SCOPED_TRACE(c.pt ? "Portuguese" : "English");
        EXPECT_TRUE(AskForDump(nullptr).empty());
        ASSERT_EQ(g_questions.size(), 1u);
        EXPECT_EQ(g_questions[0].title, c.pt ? PT_TITLE : EN_TITLE);
        EXPECT_EQ(g_questions[0].text, c.pt ? PT_NEED : EN_NEED);
        EXPECT_EQ(g_questions[0].buttons,
                  (c.pt ? std::vector<std::string>{"Escolher", "Sair"} : std::vector<std::string>{"Choose", "Quit"}));
        const auto calls = PickerCalls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_NE(calls[0].find(std::string("--title=") + (c.pt ? PT_PROMPT : EN_PROMPT)), std::string::npos);
    }
}

TEST_F(AskForDumpTest, PortugueseProblemText) {
    setenv("LANGUAGE", "pt_BR", 1);
    MakeDump(t.path() / "partial", "shaders");
    Picks({"0 " + (t.path() / "partial").string()});
    g_answers = {1};
    EXPECT_TRUE(AskForDump(nullptr).empty());
    ASSERT_EQ(g_questions.size(), 1u);
    EXPECT_EQ(g_questions[0].text,
              (t.path() / "partial").string() +
                  "\n\nOs arquivos do jogo estão incompletos.\nFaltam: shaders\\\n\nEscolha a pasta com os arquivos "
                  "do seu disco do jogo (default.xex, default.rcf, english.rcf, sound1.rcf, sound2.rcf e shaders/).");
    EXPECT_EQ(g_questions[0].buttons, (std::vector<std::string>{"Tentar de novo", "Cancelar"}));
}

TEST_F(AskForDumpTest, ChoosingAnotherGameFolderRestartsWithIt) {
    // The restarted installer is a stand-in that records its arguments.
    const fs::path restarted = t.path() / "restarted.sh";
    const std::string args = (t.path() / "args").string();
    std::ofstream(restarted) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << args << ".part' && mv '" << args
                             << ".part' '" << args << "'\n";
    fs::permissions(restarted, fs::perms::owner_all);
    setenv("APPIMAGE", restarted.c_str(), 1);
    g_passArgs = {"--mods", "/m"};

    Picks({"1"});
    g_answers = {1};
    ChooseInstallerGameFolder();
    EXPECT_EQ(g_passArgs, (std::vector<std::string>{"--mods", "/m"}));

    MakeDump(t.path() / "dump");
    Picks({"0 " + (t.path() / "dump").string()});
    ChooseInstallerGameFolder();
    EXPECT_EQ(g_passArgs, (std::vector<std::string>{"--game", (t.path() / "dump").string()}));
    for (int i = 0; i < 500 && !fs::exists(t.path() / "args"); ++i) usleep(10000);
    std::ifstream in(t.path() / "args");
    std::string first, second;
    std::getline(in, first);
    std::getline(in, second);
    EXPECT_EQ(first, "--game");
    EXPECT_EQ(second, (t.path() / "dump").string());
    unsetenv("APPIMAGE");
    g_passArgs.clear();
}

TEST(InstalledGameFolder, CopyThenRememberedFolderThenNothing) {
    TempDir t;
    g_inst.bundle = true;
    g_inst.installDir = t.path() / "install";
    const fs::path play = PlayDir();
    ASSERT_EQ(play, g_inst.installDir);
    EXPECT_TRUE(InstalledGameFolder().empty());

    MakeDump(t.path() / "mydump");
    WriteFile(play / "userdata" / "settings.toml", "[paths]\ngame = \"" + (t.path() / "mydump").string() + "\"\n");
    EXPECT_EQ(InstalledGameFolder(), t.path() / "mydump");

    WriteFile(play / "game" / "default.xex", "x"); // only the two main files are looked at here
    WriteFile(play / "game" / "default.rcf", "x");
    EXPECT_EQ(InstalledGameFolder(), play / "game");

    fs::remove_all(play / "game");
    WriteFile(play / "userdata" / "settings.toml", "[paths]\ngame = \"" + (t.path() / "gone").string() + "\"\n");
    EXPECT_TRUE(InstalledGameFolder().empty());
    g_inst.bundle = false;
    g_inst.installDir.clear();
}

} // namespace
