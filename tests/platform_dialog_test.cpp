// The folder picker and message box through the desktop tools, with the
// stand-in zenity and kdialog of tests/support/bin on PATH.
#include "runtime/platform/platform.h"

#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using testsupport::ReadFile;
using testsupport::WriteFile;

// JSON string literal as python's json.dumps writes it for the texts used here.
std::string Json(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c >= 0xC0 && c < 0xE0 && i + 1 < text.size()) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x",
                          ((c & 0x1F) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3F));
            out += code;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

std::string JsonLine(const std::vector<std::string>& items) {
    std::string line = "[";
    for (size_t i = 0; i < items.size(); ++i) line += (i ? ", " : "") + Json(items[i]);
    return line + "]\n";
}

// A temporary HOME and a PATH holding only the chosen stand-in tools.
class PlatDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = std::getenv("VELKOR_TEST_TMP");
        fs::path root = base && *base ? base : "/tmp";
        std::error_code ec;
        fs::create_directories(root, ec);
        std::string pattern = (root / "dialogs-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        bin = dir / "bin";
        home = dir / "home";
        fs::create_directories(bin);
        fs::create_directories(home);
        log = dir / "log.jsonl";
        answers = dir / "answers.txt";
        for (const char* name : {"PATH", "HOME", "STANDIN_LOG", "STANDIN_ANSWERS"}) {
            const char* value = std::getenv(name);
            saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        plat::SetEnvironment("PATH", bin.c_str());
        plat::SetEnvironment("HOME", home.c_str());
        plat::SetEnvironment("STANDIN_LOG", log.c_str());
        plat::SetEnvironment("STANDIN_ANSWERS", answers.c_str());
    }
    void TearDown() override {
        for (const auto& [name, value] : saved) plat::SetEnvironment(name.c_str(), value ? value->c_str() : nullptr);
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    void Install(const char* tool) {
        fs::create_symlink(fs::path(VELKOR_SOURCE_DIR) / "tests/support/bin" / tool, bin / tool);
    }
    void Answer(const std::string& lines) {
        WriteFile(answers, lines);
        std::error_code ec;
        fs::remove(answers.string() + ".pos", ec);
    }
    std::string TakeLog() {
        const std::string text = ReadFile(log);
        std::error_code ec;
        fs::remove(log, ec);
        return text;
    }

    fs::path dir, bin, home, log, answers;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

const char* TITLE = "Escolha a pasta d'água: \"jogo\" $HOME `x`";

} // namespace

TEST_F(PlatDialogs, PickFolderWithZenity) {
    Install("zenity");
    Install("kdialog");
    Answer("0 /games/Velkor dump\n");
    EXPECT_EQ(plat::PickFolder(TITLE, nullptr), fs::path("/games/Velkor dump"));
    EXPECT_EQ(TakeLog(), JsonLine({"zenity", "--file-selection", "--directory", std::string("--title=") + TITLE}));

    Answer("0 /games/crlf\r\n1\n");
    EXPECT_EQ(plat::PickFolder("t", nullptr), fs::path("/games/crlf"));
    EXPECT_EQ(plat::PickFolder("t", nullptr), fs::path()); // cancelled
    EXPECT_EQ(TakeLog(), JsonLine({"zenity", "--file-selection", "--directory", "--title=t"}) +
                             JsonLine({"zenity", "--file-selection", "--directory", "--title=t"}));

    Answer("");
    EXPECT_EQ(plat::PickFolder(nullptr, nullptr), fs::path());
    EXPECT_EQ(TakeLog(), JsonLine({"zenity", "--file-selection", "--directory", "--title="}));
}

TEST_F(PlatDialogs, PickFolderWithKdialogStartsAtHome) {
    Install("kdialog");
    Answer("0 /home/user/Velkor\n");
    EXPECT_EQ(plat::PickFolder(TITLE, nullptr), fs::path("/home/user/Velkor"));
    EXPECT_EQ(TakeLog(), JsonLine({"kdialog", "--getexistingdirectory", home.string(), "--title", TITLE}));
}

TEST_F(PlatDialogs, PickFolderDropsTrailingLineBreaks) {
    // A tool printing a folder whose own name ends in a line break.
    WriteFile(bin / "zenity", "#!/bin/sh\nprintf '/games/dump\\n\\r\\n'\n");
    chmod((bin / "zenity").c_str(), 0755);
    EXPECT_EQ(plat::PickFolder("t", nullptr), fs::path("/games/dump"));
}

TEST_F(PlatDialogs, NoToolMeansNothingChosen) {
    Answer("0 /should/not/be/used\n");
    EXPECT_EQ(plat::PickFolder("t", nullptr), fs::path());
    testing::internal::CaptureStderr();
    plat::ShowMessageBox("Title", "Text", plat::MessageKind::Error, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[error] Title: Text\n");
    EXPECT_FALSE(fs::exists(log));
}

TEST_F(PlatDialogs, MessageBoxCommandLines) {
    struct Case {
        plat::MessageKind kind;
        const char* word;
        const char* zenity;
        const char* kdialog;
    } cases[] = {
        {plat::MessageKind::Info, "info", "--info", "--msgbox"},
        {plat::MessageKind::Warning, "warning", "--warning", "--sorry"},
        {plat::MessageKind::Error, "error", "--error", "--error"},
    };
    const std::string text = "Não foi possível copiar 'default.rcf'.\nTente de novo.";
    Install("zenity");
    for (const Case& c : cases) {
        Answer("0\n");
        testing::internal::CaptureStderr();
        plat::ShowMessageBox(TITLE, text.c_str(), c.kind, nullptr);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  std::string("[") + c.word + "] " + TITLE + ": " + text + "\n");
        EXPECT_EQ(TakeLog(), JsonLine({"zenity", c.zenity, std::string("--title=") + TITLE, "--text=" + text}));
    }
    fs::remove(bin / "zenity");
    Install("kdialog");
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        plat::ShowMessageBox(TITLE, text.c_str(), c.kind, nullptr);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(TakeLog(), JsonLine({"kdialog", c.kdialog, text, "--title", TITLE}));
    }
    testing::internal::CaptureStderr();
    plat::ShowMessageBox(nullptr, nullptr, plat::MessageKind::Info, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[info] : \n");
    EXPECT_EQ(TakeLog(), JsonLine({"kdialog", "--msgbox", "", "--title", ""}));
}
