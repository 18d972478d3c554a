// The install folder (memory file, default, picked folder, write test), the
// free space of a folder and the disk-space estimate. HOME and the XDG folders
// point into a temporary folder; the folder picker is the zenity stand-in.
#include "tests/support/flow_support.h"
#include "tests/support/scoped_env.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "launcher/install_dir.h"
#include "launcher/install_sequence.h"
#include "launcher/installer.h"
#include "launcher/launcher.h"
#include "tests/support/payload_fixture.h"

namespace fs = std::filesystem;
using payload_fixture::TempDir;

namespace {

const fs::path STANDINS = fs::path(VELKOR_SOURCE_DIR) / "tests" / "support" / "bin";
constexpr uint64_t MIB = 1048576;
constexpr uint64_t GIB = 1073741824;

using testsupport::EnvGuard;

using flow_support::Tmpfs;

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

uint64_t StatvfsFree(const fs::path& path) {
    struct statvfs info{};
    if (statvfs(path.c_str(), &info) != 0) return 0;
    return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

class InstallDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = tmp.path() / "home";
        fs::create_directories(home);
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
        setenv("PATH", (STANDINS.string() + ":/usr/bin:/bin").c_str(), 1);
        unsetenv("STANDIN_LOG");
        g_values.language = "english";
        g_inst.installDir.clear();
        g_inst.bundle = false;
        g_inst.subtitles = true;
        g_inst.remaster = g_inst.extractAssets = g_inst.copyGame = g_inst.dlss = false;
        g_inst.gameBytes = 0;
        g_payload = Payload();
        ClearInstallerUiState();
    }
    void TearDown() override {
        g_values.language = "english";
        g_inst.installDir.clear();
        g_inst.bundle = false;
        g_inst.subtitles = true;
        g_inst.remaster = g_inst.extractAssets = g_inst.copyGame = false;
        g_inst.gameBytes = 0;
        g_payload = Payload();
        ClearInstallerUiState();
    }

    // The stand-in folder picker answers `answer` ("0 <folder>", or "1" for cancel).
    void PickerAnswers(const std::string& answer) {
        const fs::path answers = tmp.path() / "answers";
        std::error_code ec;
        fs::remove(answers.string() + ".pos", ec);
        WriteText(answers, answer + "\n");
        setenv("STANDIN_ANSWERS", answers.c_str(), 1);
    }

    EnvGuard env{"HOME", "XDG_CONFIG_HOME", "PATH", "STANDIN_ANSWERS", "STANDIN_LOG"};
    TempDir tmp{"velkor-installdir"};
    fs::path home;
};

TEST_F(InstallDirTest, MemoryFileLocation) {
    EXPECT_EQ(InstallDirMemory(), home / ".config" / "velkorrecomp" / "install_dir");
    setenv("XDG_CONFIG_HOME", "/cfg dir", 1);
    EXPECT_EQ(InstallDirMemory(), fs::path("/cfg dir/velkorrecomp/install_dir"));
    setenv("XDG_CONFIG_HOME", "", 1);
    unsetenv("HOME");
    EXPECT_EQ(InstallDirMemory(), fs::path("/tmp/.config/velkorrecomp/install_dir"));
}

TEST_F(InstallDirTest, DefaultFolderFromTheMemoryFile) {
    const fs::path fallback = home / "Games" / "Velkor of the Ombrax Lumenfall";
    struct Case {
        const char* name;
        std::optional<std::string> content; // nullopt: no memory file
        fs::path expected;
    };
    const Case cases[] = {
        {"CR LF", std::string("/data/games/X\r\n"), "/data/games/X"},
        {"only the first line", std::string("/a/first\n/a/second\n"), "/a/first"},
        {"no line feed", std::string("/jogos/ação e mais"), "/jogos/ação e mais"},
        {"empty line", std::string("\n/a/second\n"), fallback},
        {"empty file", std::string(), fallback},
        {"a long line is cut at 4095 bytes", "/" + std::string(5000, 'x'), "/" + std::string(4094, 'x')},
        {"no memory file", std::nullopt, fallback},
    };
    for (const Case& c : cases) {
        std::error_code ec;
        fs::remove(InstallDirMemory(), ec);
        if (c.content) WriteText(InstallDirMemory(), *c.content);
        EXPECT_EQ(DefaultInstallDir(), c.expected) << c.name;
    }
    unsetenv("HOME");
    EXPECT_EQ(DefaultInstallDir(), fs::path("/tmp/Games/Velkor of the Ombrax Lumenfall"));
}

TEST_F(InstallDirTest, RememberedFolderComesBackNextRun) {
    setenv("XDG_CONFIG_HOME", (tmp.path() / "new" / "config").c_str(), 1);
    g_inst.installDir = "/mnt/jogos/Velkor of the Ombrax Lumenfall";
    RememberInstallDir();
    EXPECT_EQ(ReadText(InstallDirMemory()), "/mnt/jogos/Velkor of the Ombrax Lumenfall\n");
    EXPECT_EQ(DefaultInstallDir(), g_inst.installDir);

    // A memory file that cannot be written is not reported.
    setenv("XDG_CONFIG_HOME", (InstallDirMemory() / "under a file").c_str(), 1);
    RememberInstallDir();
    EXPECT_EQ(LastMessage(0), "");
}

TEST_F(InstallDirTest, ChooseInstallDirPlacesTheTitleFolder) {
    const fs::path picked = tmp.path() / "Meus Jogos";
    const fs::path titled = tmp.path() / "Games" / "Velkor of the Ombrax Lumenfall";
    const fs::path earlier = tmp.path() / "old install";
    WriteText(earlier / "VelkorRecomp" / "tools" / "setup.py", "# earlier installation\n");
    fs::create_directories(picked);

    struct Case {
        const char* name;
        std::string answer;
        fs::path expected;
    };
    const Case cases[] = {
        {"a plain folder gets the title folder", "0 " + picked.string(), picked / "Velkor of the Ombrax Lumenfall"},
        {"the title folder itself", "0 " + titled.string(), titled},
        {"an earlier installation", "0 " + earlier.string(), earlier},
    };
    for (const Case& c : cases) {
        g_inst.installDir = "/before";
        PickerAnswers(c.answer);
        ChooseInstallDir();
        EXPECT_EQ(g_inst.installDir, c.expected) << c.name;
        EXPECT_TRUE(fs::is_directory(c.expected)) << c.name;
        EXPECT_EQ(LastMessage(0), "") << c.name;
    }

    // Cancelled: nothing changes.
    g_inst.installDir = "/before";
    PickerAnswers("1");
    ChooseInstallDir();
    EXPECT_EQ(g_inst.installDir, fs::path("/before"));

    // A folder that cannot be made: message with the reason and the folder; the
    // choice is kept.
    WriteText(tmp.path() / "file", "x");
    g_values.language = "pt-br";
    PickerAnswers("0 " + (tmp.path() / "file").string());
    ChooseInstallDir();
    EXPECT_EQ(g_inst.installDir, tmp.path() / "file" / "Velkor of the Ombrax Lumenfall");
    EXPECT_EQ(LastMessage(0), "Não dá para criar esta pasta.");
    EXPECT_EQ(LastMessage(1), g_inst.installDir.string());
}

TEST_F(InstallDirTest, WritableCreatesTheFolderAndLeavesNothing) {
    const fs::path folder = tmp.path() / "a" / "b c" / "d";
    std::string reason = "untouched";
    EXPECT_TRUE(Writable(folder, reason));
    EXPECT_EQ(reason, "untouched");
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_FALSE(fs::exists(folder / ".velkorrecomp_write_test"));

    // A file on the way: the folder cannot be made.
    WriteText(tmp.path() / "plain", "x");
    EXPECT_FALSE(Writable(tmp.path() / "plain" / "sub", reason));
    EXPECT_EQ(reason, "Cannot create this folder.");
    g_values.language = "pt-br";
    EXPECT_FALSE(Writable(tmp.path() / "plain", reason));
    EXPECT_EQ(reason, "Não dá para criar esta pasta.");
}

TEST_F(InstallDirTest, WritableRefusesAFolderThatCannotBeWritten) {
    // Root writes everywhere except on a read-only file system.
    const fs::path folder = tmp.path() / "ro";
    std::optional<Tmpfs> readOnly;
    if (geteuid() == 0) {
        readOnly.emplace(folder, "ro,size=1m");
        if (!readOnly->mounted()) GTEST_SKIP() << "running as root and cannot mount a read-only tmpfs: "
                                               << readOnly->error();
    } else {
        fs::create_directories(folder);
        fs::permissions(folder, fs::perms(0555));
    }
    std::string reason;
    EXPECT_FALSE(Writable(folder, reason));
    EXPECT_EQ(reason, "No permission to write here: choose a folder of your user.");
    g_values.language = "pt-br";
    EXPECT_FALSE(Writable(folder, reason));
    EXPECT_EQ(reason, "Sem permissão para gravar aqui: escolha uma pasta do seu usuário.");
    if (!readOnly) fs::permissions(folder, fs::perms(0755));
}

TEST_F(InstallDirTest, FreeBytesOfAFolderStillToBeMade) {
    // On a private tmpfs nothing else changes the free space between the two
    // questions; elsewhere other programs may write in between.
    const fs::path disk = tmp.path() / "disk";
    Tmpfs tmpfs(disk, "size=48m");
    const fs::path base = tmpfs.mounted() ? disk : tmp.path();
    const fs::path deep = base / "new" / "a" / "b";
    const uint64_t expected = StatvfsFree(base);
    const uint64_t measured = FreeBytes(deep);
    if (tmpfs.mounted()) {
        EXPECT_EQ(measured, expected);
        EXPECT_EQ(measured, 48 * MIB);
    } else {
        EXPECT_NEAR(static_cast<double>(measured), static_cast<double>(expected), 64.0 * MIB);
    }
    EXPECT_FALSE(fs::exists(base / "new"));

    // A regular file on the way counts as the nearest existing place.
    WriteText(base / "file", "x");
    const uint64_t viaFile = FreeBytes(base / "file" / "x" / "y");
    if (tmpfs.mounted()) {
        EXPECT_EQ(viaFile, StatvfsFree(base));
    }
    EXPECT_GT(viaFile, 0u);
    EXPECT_EQ(FreeBytes(""), 0u);
}

TEST_F(InstallDirTest, FolderBytesCountsFilesAndFollowsFileLinksOnly) {
    const fs::path game = tmp.path() / "game";
    WriteText(game / "default.xex", std::string(1000, 'x'));
    WriteText(game / "shaders" / "a.bin", std::string(250, 'a'));
    WriteText(game / "shaders" / "deep" / "b.bin", std::string(5, 'b'));
    WriteText(tmp.path() / "outside" / "big.bin", std::string(7000, 'o'));
    fs::create_symlink(tmp.path() / "outside" / "big.bin", game / "link to file");
    fs::create_symlink(tmp.path() / "outside", game / "link to folder");
    fs::create_symlink(tmp.path() / "nowhere", game / "dangling");
    EXPECT_EQ(FolderBytes(game), 1000u + 250 + 5 + 7000);
    EXPECT_EQ(FolderBytes(tmp.path() / "missing"), 0u);
    EXPECT_EQ(FolderBytes(game / "default.xex"), 0u);
}

TEST_F(InstallDirTest, RequiredBytesAddsTheChoices) {
    // Every option off, no game copy, no payload.
    g_inst.subtitles = false;
    EXPECT_EQ(RequiredBytes(), 943718400u);

    g_inst.gameBytes = 3 * GIB;
    struct Case {
        const char* name;
        bool subtitles, remaster, assets, copy, bundle;
        uint64_t expected;
    };
    const Case cases[] = {
        {"subtitles", true, false, false, false, false, 943718400u + 10485760u},
        {"remaster", false, true, false, false, false, 943718400u + 9961472000u},
        {"assets", false, false, true, false, false, 943718400u + 19327352832u},
        {"game copy", false, false, false, true, false, 943718400u + 3 * GIB},
        {"single-file mode copies the game", false, false, false, false, true, 943718400u + 3 * GIB},
        {"everything", true, true, true, true, true,
         943718400u + 10485760u + 9961472000u + 19327352832u + 3 * GIB},
    };
    for (const Case& c : cases) {
        g_inst.subtitles = c.subtitles;
        g_inst.remaster = c.remaster;
        g_inst.extractAssets = c.assets;
        g_inst.copyGame = c.copy;
        g_inst.bundle = c.bundle;
        EXPECT_EQ(RequiredBytes(), c.expected) << c.name;
    }

    // The payload counts without the components left out.
    g_inst.subtitles = g_inst.remaster = g_inst.copyGame = g_inst.bundle = false;
    g_inst.gameBytes = 0;
    g_payload.present = true;
    g_payload.files = {{"base", 100, L"a", ""}, {"dlss", 20, L"b", ""}, {"modding", 3, L"c", ""}};
    g_inst.dlss = false;
    g_inst.extractAssets = false;
    EXPECT_EQ(RequiredBytes(), 943718400u + 100);
    g_inst.dlss = true;
    EXPECT_EQ(RequiredBytes(), 943718400u + 120);
    g_inst.extractAssets = true;
    EXPECT_EQ(RequiredBytes(), 943718400u + 19327352832u + 123);
}

TEST_F(InstallDirTest, EnoughSpaceComparesTheDriveWithTheNeed) {
    const fs::path disk = tmp.path() / "disk";
    Tmpfs tmpfs(disk, "size=1000m");
    if (!tmpfs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << tmpfs.error();
    g_inst.installDir = disk / "not yet" / "made";
    g_inst.subtitles = false;
    EXPECT_TRUE(EnoughSpace()); // 1000 MiB free, 900 MiB needed
    g_inst.copyGame = true;
    g_inst.gameBytes = 100 * MIB;
    EXPECT_EQ(FreeBytes(g_inst.installDir), 1000 * MIB);
    EXPECT_TRUE(EnoughSpace()); // an exact fit is enough
    g_inst.gameBytes += 1;
    EXPECT_FALSE(EnoughSpace());
}

TEST_F(InstallDirTest, SizeTextInBothLanguages) {
    struct Case {
        uint64_t bytes;
        const char* en;
        const char* pt;
    };
    const Case cases[] = {
        {0, "0 MB", "0 MB"},
        {MIB / 2 - 1, "0 MB", "0 MB"},
        {5 * MIB + 100, "5 MB", "5 MB"},
        {GIB - 1, "1024 MB", "1024 MB"},
        {GIB, "1.0 GB", "1,0 GB"},
        {GIB + GIB / 2, "1.5 GB", "1,5 GB"},
        {943718400u + 10485760u, "910 MB", "910 MB"},
        {19327352832u, "18.0 GB", "18,0 GB"},
        {1000 * GIB + GIB / 4, "1000.2 GB", "1000,2 GB"},
        {UINT64_MAX, "17179869184.0 GB", "17179869184,0 GB"},
    };
    for (const Case& c : cases) {
        g_values.language = "english";
        EXPECT_EQ(SizeText(c.bytes), c.en) << c.bytes;
        g_values.language = "pt-br";
        EXPECT_EQ(SizeText(c.bytes), c.pt) << c.bytes;
    }
}

} // namespace
