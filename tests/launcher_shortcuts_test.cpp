// Desktop entries, the desktop and menu folders, and the hand-over to the
// installed launcher or a restarted installer. HOME and the XDG folders point
// into a temporary folder; started programs are our own stand-ins.
#include "tests/support/scoped_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "launcher/install_sequence.h"
#include "launcher/installer.h"
#include "launcher/launcher.h"
#include "launcher/setup_script.h"
#include "launcher/shortcuts.h"
#include "tests/support/payload_fixture.h"

namespace fs = std::filesystem;
using payload_fixture::TempDir;

namespace {

const fs::path STANDINS = fs::path(VELKOR_SOURCE_DIR) / "tests" / "support" / "bin";

using testsupport::EnvGuard;

void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Waits for a file another process writes (the stand-ins write theirs
// complete, under their final name).
bool WaitForFile(const fs::path& path) {
    for (int i = 0; i < 3000; ++i) {
        std::error_code ec;
        if (fs::exists(path, ec)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The NUL-separated record of tests/support/bin/fake-launcher.
std::vector<std::string> ReadRecord(const fs::path& path) {
    std::vector<std::string> items;
    std::string text = ReadText(path);
    size_t start = 0;
    for (size_t nul; (nul = text.find('\0', start)) != std::string::npos; start = nul + 1) {
        items.push_back(text.substr(start, nul - start));
    }
    return items;
}

// Key-file string value: undoes \s \n \t \r \\ (anything else is an error here).
bool UnescapeString(const std::string& value, std::string& out) {
    out.clear();
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            out += value[i];
            continue;
        }
        if (++i == value.size()) return false;
        switch (value[i]) {
        case 's': out += ' '; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        default: return false;
        }
    }
    return true;
}

// The Exec value as a launcher reads it: string escapes, then the quoting rule
// (inside double quotes a backslash escapes " ` $ \), then "%%" -> "%".
bool ExecArguments(const std::string& value, std::vector<std::string>& args) {
    std::string text;
    if (!UnescapeString(value, text)) return false;
    args.clear();
    std::string arg;
    bool quoted = false, any = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\') {
                if (++i == text.size()) return false;
                const char next = text[i];
                if (next != '"' && next != '`' && next != '$' && next != '\\') return false;
                arg += next;
            } else if (c == '`' || c == '$') {
                return false; // must be escaped inside quotes
            } else {
                arg += c;
            }
        } else if (c == '"') {
            quoted = any = true;
        } else if (c == ' ') {
            if (any) args.push_back(arg);
            arg.clear();
            any = false;
        } else {
            if (c == '\\' || c == '`' || c == '$') return false; // reserved outside quotes
            arg += c;
            any = true;
        }
    }
    if (quoted) return false;
    if (any) args.push_back(arg);
    for (std::string& a : args) {
        std::string plain;
        for (size_t i = 0; i < a.size(); ++i) {
            if (a[i] == '%') {
                if (i + 1 == a.size() || a[i + 1] != '%') return false; // a field code
                ++i;
            }
            plain += a[i];
        }
        a = plain;
    }
    return true;
}

std::map<std::string, std::string> EntryKeys(const std::string& text) {
    std::map<std::string, std::string> keys;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return keys;
}

// desktop-file-validate's exit status and output.
int Validate(const fs::path& file, std::string& output) {
    const std::string command = "desktop-file-validate '" + file.string() + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char chunk[512];
    size_t got;
    output.clear();
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void ResetInstaller() {
    g_inst.phase = Phase::Setup;
    g_inst.bundle = false;
    g_inst.installDir.clear();
    g_inst.desktopShortcut = true;
    g_inst.startMenu = true;
    g_inst.shortcutsDone = false;
    g_inst.subtitles = true;
    g_inst.remaster = false;
    g_inst.extractAssets = false;
    g_inst.copyGame = false;
    g_inst.shots.clear();
    std::lock_guard<std::mutex> lock(g_inst.mutex);
    g_inst.finishedDir.clear();
}

class ShortcutsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetInstaller();
        ClearInstallerUiState();
        g_passArgs.clear();
        home = tmp.path() / "home";
        fs::create_directories(home);
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("XDG_DATA_HOME");
        unsetenv("APPIMAGE");
        setenv("PATH", (STANDINS.string() + ":/usr/bin:/bin").c_str(), 1);
        record = tmp.path() / "record";
        setenv("FAKE_LAUNCHER_RECORD", record.c_str(), 1);
    }
    void TearDown() override {
        ResetInstaller();
        ClearInstallerUiState();
        g_passArgs.clear();
    }

    // A copy of the stand-in program at `path`.
    void PlaceProgram(const fs::path& path) {
        fs::create_directories(path.parent_path());
        fs::copy_file(STANDINS / "fake-launcher", path, fs::copy_options::overwrite_existing);
        fs::permissions(path, fs::perms(0755));
    }

    EnvGuard env{"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "APPIMAGE", "PATH", "FAKE_LAUNCHER_RECORD",
                 "XDG_OPEN_RECORD"};
    TempDir tmp{"velkor-shortcuts"};
    fs::path home;
    fs::path record;
};

TEST_F(ShortcutsTest, DesktopFolderFollowsUserDirs) {
    struct Case {
        const char* name;
        const char* file; // nullptr: no user-dirs.dirs
        std::string expected;
    };
    const std::string h = home.string();
    const Case cases[] = {
        {"quoted $HOME path", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n", h + "/Schreibtisch"},
        {"after comments and other folders",
         "# written by xdg-user-dirs-update\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\nXDG_DESKTOP_DIR=\"$HOME/Área de "
         "trabalho\"\n",
         h + "/Área de trabalho"},
        {"absolute path", "XDG_DESKTOP_DIR=\"/srv/desk top\"\n", "/srv/desk top"},
        {"first desktop line wins", "XDG_DESKTOP_DIR=\"$HOME/one\"\nXDG_DESKTOP_DIR=\"$HOME/two\"\n", h + "/one"},
        {"up to the last quote", "XDG_DESKTOP_DIR=\"$HOME/a\"b\" # note\n", h + "/a\"b"},
        {"no closing quote", "XDG_DESKTOP_DIR=\"$HOME/open\n", h + "/open"},
        {"CR LF line end", "XDG_DESKTOP_DIR=\"$HOME/crlf\"\r\n", h + "/crlf"},
        {"no desktop line", "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n", h + "/Desktop"},
        {"leading spaces", "  XDG_DESKTOP_DIR=\"$HOME/indented\"\n", h + "/Desktop"},
        {"unquoted value", "XDG_DESKTOP_DIR=$HOME/bare\n", h + "/Desktop"},
        {"missing file", nullptr, h + "/Desktop"},
    };
    const fs::path dirs = home / ".config" / "user-dirs.dirs";
    for (const Case& c : cases) {
        std::error_code ec;
        fs::remove(dirs, ec);
        if (c.file) WriteText(dirs, c.file);
        EXPECT_EQ(DesktopFolder(), fs::path(c.expected)) << c.name;
    }

    // XDG_CONFIG_HOME moves the file; "$HOME" still means HOME.
    setenv("HOME", "/home/ana", 1);
    setenv("XDG_CONFIG_HOME", (tmp.path() / "cfg").c_str(), 1);
    WriteText(tmp.path() / "cfg" / "user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    EXPECT_EQ(DesktopFolder(), fs::path("/home/ana/Schreibtisch"));
    setenv("XDG_CONFIG_HOME", "", 1); // empty counts as unset
    EXPECT_EQ(DesktopFolder(), fs::path("/home/ana/Desktop"));
    unsetenv("HOME");
    EXPECT_EQ(DesktopFolder(), fs::path("/tmp/Desktop"));
}

TEST_F(ShortcutsTest, ApplicationsFolderUnderDataHome) {
    EXPECT_EQ(ApplicationsFolder(), home / ".local" / "share" / "applications");
    setenv("XDG_DATA_HOME", "/data home", 1);
    EXPECT_EQ(ApplicationsFolder(), fs::path("/data home/applications"));
    setenv("XDG_DATA_HOME", "", 1);
    EXPECT_EQ(ApplicationsFolder(), home / ".local" / "share" / "applications");
    unsetenv("HOME");
    EXPECT_EQ(ApplicationsFolder(), fs::path("/tmp/.local/share/applications"));
}

TEST_F(ShortcutsTest, EntryIsValidForAwkwardLauncherPaths) {
    ASSERT_EQ(access("/usr/bin/desktop-file-validate", X_OK), 0) << "desktop-file-validate is not installed";
    const char* folders[] = {
        "/opt/Velkor Games",   "/games/price$HOME",   "/games/say \"hi\"",        "/games/back`tick`",
        "/games/back\\slash",  "/games/100%d done",   "/games/tab\there",         "/games/line\nNoDisplay=true",
        "/jogos/ação & \"$`\\%",
    };
    int n = 0;
    for (const char* folder : folders) {
        const fs::path target = fs::path(folder) / "VelkorLauncher";
        const fs::path file = tmp.path() / "apps" / ("entry" + std::to_string(n++) + ".desktop");
        CreateShortcut(file, target, SHORTCUT_DESCRIPTION);
        ASSERT_TRUE(fs::exists(file)) << folder;

        std::string output;
        EXPECT_EQ(Validate(file, output), 0) << folder << "\n" << output;
        EXPECT_EQ(output, "") << folder;

        struct stat st{};
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0755u) << folder;

        const std::string text = ReadText(file);
        const auto keys = EntryKeys(text);
        std::vector<std::string> args;
        ASSERT_TRUE(ExecArguments(keys.at("Exec"), args)) << keys.at("Exec");
        ASSERT_EQ(args.size(), 1u) << keys.at("Exec");
        EXPECT_EQ(args[0], target.string());
        std::string path, icon;
        ASSERT_TRUE(UnescapeString(keys.at("Path"), path));
        ASSERT_TRUE(UnescapeString(keys.at("Icon"), icon));
        EXPECT_EQ(path, folder);
        EXPECT_EQ(icon, std::string(folder) + "/VelkorRecomp/velkorrecomp.png");
        EXPECT_EQ(keys.size(), 9u) << "a path must not add keys:\n" << text;
    }
}

TEST_F(ShortcutsTest, EntryTextForAPlainPath) {
    const fs::path file = tmp.path() / "deep" / "er" / SHORTCUT_FILE;
    CreateShortcut(file, "/home/ana/Games/Velkor of the Ombrax Lumenfall/VelkorLauncher", SHORTCUT_DESCRIPTION);
    EXPECT_EQ(ReadText(file), "[Desktop Entry]\n"
                              "Type=Application\n"
                              "Name=Velkor of the Ombrax - Lumenfall\n"
                              "Comment=VelkorRecomp: Velkor of the Ombrax (launcher)\n"
                              "Exec=\"/home/ana/Games/Velkor of the Ombrax Lumenfall/VelkorLauncher\"\n"
                              "Path=/home/ana/Games/Velkor of the Ombrax Lumenfall\n"
                              "Icon=/home/ana/Games/Velkor of the Ombrax Lumenfall/VelkorRecomp/velkorrecomp.png\n"
                              "Terminal=false\n"
                              "Categories=Game;\n"
                              "StartupWMClass=VelkorLauncher\n");
}

TEST_F(ShortcutsTest, ApplyShortcutsOnceAfterAFinishedSingleFileInstall) {
    WriteText(home / ".config" / "user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Mesa\"\n");
    const fs::path desktopEntry = home / "Mesa" / SHORTCUT_FILE;
    const fs::path menuEntry = home / ".local" / "share" / "applications" / SHORTCUT_FILE;
    g_inst.installDir = tmp.path() / "Velkor of the Ombrax Lumenfall";

    // Outside single-file mode, or before Done: nothing, and nothing is marked.
    g_inst.phase = Phase::Done;
    ApplyShortcuts();
    g_inst.bundle = true;
    for (Phase phase : {Phase::Setup, Phase::Running, Phase::Failed}) {
        g_inst.phase = phase;
        ApplyShortcuts();
    }
    EXPECT_FALSE(g_inst.shortcutsDone);
    EXPECT_FALSE(fs::exists(desktopEntry));
    EXPECT_FALSE(fs::exists(menuEntry));

    g_inst.phase = Phase::Done;
    ApplyShortcuts();
    EXPECT_TRUE(g_inst.shortcutsDone);
    for (const fs::path& entry : {desktopEntry, menuEntry}) {
        std::vector<std::string> args;
        ASSERT_TRUE(ExecArguments(EntryKeys(ReadText(entry)).at("Exec"), args)) << entry;
        EXPECT_EQ(args, std::vector<std::string>{(g_inst.installDir / "VelkorLauncher").string()});
    }

    // Once per run: a second call writes nothing.
    fs::remove(desktopEntry);
    fs::remove(menuEntry);
    ApplyShortcuts();
    EXPECT_FALSE(fs::exists(desktopEntry));
    EXPECT_FALSE(fs::exists(menuEntry));
}

TEST_F(ShortcutsTest, ShortcutChoicesAndAFailedEntry) {
    g_inst.bundle = true;
    g_inst.phase = Phase::Done;
    g_inst.installDir = tmp.path() / "inst";
    const fs::path desktopEntry = home / "Desktop" / SHORTCUT_FILE;
    const fs::path menuEntry = home / ".local" / "share" / "applications" / SHORTCUT_FILE;

    // Both off: nothing written, but done.
    g_inst.desktopShortcut = g_inst.startMenu = false;
    ApplyShortcuts();
    EXPECT_TRUE(g_inst.shortcutsDone);
    EXPECT_FALSE(fs::exists(desktopEntry));
    EXPECT_FALSE(fs::exists(menuEntry));

    // Only the menu entry.
    g_inst.shortcutsDone = false;
    g_inst.startMenu = true;
    ApplyShortcuts();
    EXPECT_FALSE(fs::exists(desktopEntry));
    EXPECT_TRUE(fs::exists(menuEntry));

    // The desktop entry cannot be written (its folder is a file): the menu
    // entry is still written, and the failure is not retried.
    fs::remove(menuEntry);
    WriteText(home / "Desktop", "not a folder");
    g_inst.shortcutsDone = false;
    g_inst.desktopShortcut = true;
    ApplyShortcuts();
    EXPECT_TRUE(g_inst.shortcutsDone);
    EXPECT_TRUE(fs::exists(menuEntry));
    EXPECT_TRUE(fs::is_regular_file(home / "Desktop"));
}

TEST_F(ShortcutsTest, OpenLauncherStartsTheInstalledLauncherAndEnds) {
    g_inst.bundle = true;
    g_inst.phase = Phase::Done;
    g_inst.installDir = tmp.path() / "play folder";
    const fs::path finished = tmp.path() / "finished $folder";
    PlaceProgram(g_inst.installDir / "VelkorLauncher");
    PlaceProgram(finished / "VelkorLauncher");

    // The folder the script reported wins over the play folder.
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        g_inst.finishedDir = finished.string();
    }
    OpenLauncher();
    EXPECT_TRUE(QuitRequested());
    EXPECT_TRUE(g_inst.shortcutsDone);
    EXPECT_TRUE(fs::exists(home / "Desktop" / SHORTCUT_FILE));
    ASSERT_TRUE(WaitForFile(record));
    std::vector<std::string> started = ReadRecord(record);
    ASSERT_EQ(started.size(), 2u); // no arguments
    EXPECT_EQ(started[0], (finished / "VelkorLauncher").string());
    EXPECT_EQ(fs::path(started[1]), fs::canonical(finished));

    // Without a reported folder: the play folder.
    fs::remove(record);
    ClearInstallerUiState();
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        g_inst.finishedDir.clear();
    }
    OpenLauncher();
    EXPECT_TRUE(QuitRequested());
    ASSERT_TRUE(WaitForFile(record));
    started = ReadRecord(record);
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(fs::path(started[1]), fs::canonical(g_inst.installDir));

    // No launcher there: the installer stays open.
    ClearInstallerUiState();
    fs::remove(g_inst.installDir / "VelkorLauncher");
    OpenLauncher();
    EXPECT_FALSE(QuitRequested());
}

TEST_F(ShortcutsTest, OpenWithDesktopAndOpenFolder) {
    const fs::path opened = tmp.path() / "opened";
    setenv("XDG_OPEN_RECORD", opened.c_str(), 1);
    const fs::path folder = tmp.path() / "a b" / "new" / "folder";
    OpenFolder(folder);
    EXPECT_TRUE(fs::is_directory(folder));
    ASSERT_TRUE(WaitForFile(opened));
    EXPECT_EQ(ReadText(opened), "file://" + folder.string() + "\n");

    fs::remove(opened);
    OpenWithDesktop("https://example.org/a b?x=1");
    ASSERT_TRUE(WaitForFile(opened));
    EXPECT_EQ(ReadText(opened), "https://example.org/a b?x=1\n");
}

TEST_F(ShortcutsTest, RelaunchArgumentsReproduceTheChoices) {
    EXPECT_EQ(InstallerRelaunchArgs(), (std::vector<std::string>{"--option", "subtitles"}));

    g_inst.bundle = true;
    g_inst.installDir = "/games/my dir";
    g_inst.subtitles = false;
    g_inst.remaster = g_inst.extractAssets = g_inst.copyGame = true;
    g_inst.desktopShortcut = g_inst.startMenu = false; // never passed on
    g_inst.shots = "/tmp/shots";
    EXPECT_EQ(InstallerRelaunchArgs(),
              (std::vector<std::string>{"--install-dir", "/games/my dir", "--option", "no-subtitles", "--option",
                                        "remaster", "--option", "assets", "--option", "copy", "--shots",
                                        "/tmp/shots"}));
}

TEST_F(ShortcutsTest, RelaunchPrefersTheAppImage) {
    const fs::path appImage = tmp.path() / "Velkor Setup.AppImage";
    PlaceProgram(appImage);
    setenv("APPIMAGE", appImage.c_str(), 1);
    g_passArgs = {"--game", "/dumps/my game"};
    g_inst.remaster = true;
    const fs::path cwd = fs::current_path();

    EXPECT_TRUE(Relaunch());
    EXPECT_TRUE(QuitRequested());
    ASSERT_TRUE(WaitForFile(record));
    EXPECT_EQ(ReadRecord(record),
              (std::vector<std::string>{appImage.string(), fs::canonical(cwd).string(), "--game", "/dumps/my game",
                                        "--option", "subtitles", "--option", "remaster"}));

    // A restart that cannot start leaves the installer as it was.
    ClearInstallerUiState();
    setenv("APPIMAGE", (tmp.path() / "missing.AppImage").c_str(), 1);
    EXPECT_FALSE(Relaunch());
    EXPECT_FALSE(QuitRequested());
}

// Started by RelaunchWithoutAppImageRestartsThisProgram: records its own
// command line.
TEST(RelaunchChild, RecordsItsCommandLine) {
    const char* out = std::getenv("VELKOR_RELAUNCH_RECORD");
    if (!out) GTEST_SKIP() << "runs only as the restarted program";
    std::string cmdline = ReadText("/proc/self/cmdline");
    std::ofstream(std::string(out) + ".tmp", std::ios::binary) << fs::current_path().string() << '\0' << cmdline;
    fs::rename(std::string(out) + ".tmp", out);
}

TEST_F(ShortcutsTest, RelaunchWithoutAppImageRestartsThisProgram) {
    const fs::path out = tmp.path() / "relaunched";
    setenv("VELKOR_RELAUNCH_RECORD", out.c_str(), 1);
    setenv("APPIMAGE", "", 1); // empty counts as unset
    g_passArgs = {"--gtest_filter=RelaunchChild.RecordsItsCommandLine"};
    EXPECT_TRUE(Relaunch());
    unsetenv("VELKOR_RELAUNCH_RECORD");
    EXPECT_TRUE(QuitRequested());
    ASSERT_TRUE(WaitForFile(out));
    std::vector<std::string> items;
    {
        const std::string text = ReadText(out);
        size_t start = 0;
        for (size_t nul; (nul = text.find('\0', start)) != std::string::npos; start = nul + 1) {
            items.push_back(text.substr(start, nul - start));
        }
    }
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0], fs::current_path().string());
    EXPECT_EQ(fs::canonical(items[1]), fs::canonical("/proc/self/exe"));
    EXPECT_EQ(std::vector<std::string>(items.begin() + 2, items.end()),
              (std::vector<std::string>{"--gtest_filter=RelaunchChild.RecordsItsCommandLine", "--option",
                                        "subtitles"}));
}

} // namespace
