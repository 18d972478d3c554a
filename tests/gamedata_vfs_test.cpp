// The virtual file system on real folder trees whose names on disk are in
// mixed case: device prefixes, "..", mods over the dump, listings, wildcards,
// content mounts and the folder-listing cache.
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/fs/vfs.h"

namespace fs = std::filesystem;

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

// Moves a folder's modification time an hour back, so that its listing is
// old enough to be kept.
void AgeFolder(const fs::path& folder, time_t seconds = 0) {
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    struct timespec times[2];
    times[0] = st.st_atim;
    times[1].tv_sec = seconds ? seconds : st.st_mtim.tv_sec - 3600;
    times[1].tv_nsec = 123456789;
    ASSERT_EQ(::utimensat(AT_FDCWD, folder.c_str(), times, 0), 0);
}

class VfsTree : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.path().empty());
        m_game = m_dir.path() / "game";
        m_mods = m_dir.path() / "mods";
        m_user = m_dir.path() / "userdata";
        WriteFile(m_game / "Default.Rcf", "dump");
        WriteFile(m_game / "english.rcf", "dump");
        WriteFile(m_game / "Art" / "Menu.P3D", "dump");
        WriteFile(m_dir.path() / "outside.txt", "secret");
        fs::create_directories(m_mods);
    }
    void InitVfs() { vfs::Init({m_game, m_mods, m_user}); }

    std::optional<vfs::Location> Find(const char* guest) {
        auto path = vfs::Parse(guest, nullptr);
        if (!path) return std::nullopt;
        return vfs::Locate(*path);
    }

    TempDir m_dir;
    fs::path m_game, m_mods, m_user;
};

TEST_F(VfsTree, EveryGameDeviceNameFindsTheFileWhateverItsCase) {
    InitVfs();
    for (const char* guest : {"D:\\DEFAULT.RCF", "d:\\default.rcf", "game:/default.rcf", "\\device\\cdrom0\\default.rcf",
                              "\\Device\\CdRom0\\DEFAULT.rcf", "\\??\\d:\\default.rcf", "DVD:\\Default.rcf",
                              "d:/./art/../DEFAULT.RCF"}) {
        auto found = Find(guest);
        ASSERT_TRUE(found) << guest;
        EXPECT_EQ(found->host, m_game / "Default.Rcf") << guest;
        EXPECT_EQ(found->source, "game") << guest;
    }
    auto nested = Find("d:\\ART\\menu.p3d");
    ASSERT_TRUE(nested);
    EXPECT_EQ(nested->host, m_game / "Art" / "Menu.P3D");
    EXPECT_FALSE(Find("d:\\art\\missing.p3d"));
}

TEST_F(VfsTree, LinksAndOddFolders) {
    WriteFile(m_dir.path() / "elsewhere" / "Inner.BIN", "i");
    fs::create_directory_symlink(m_dir.path() / "elsewhere", m_game / "Linked");
    fs::create_symlink(m_game / "english.rcf", m_game / "Voice.Rcf");
    fs::create_symlink(m_dir.path() / "nowhere", m_game / "Dangling.bin");
    InitVfs();
    EXPECT_EQ(Find("d:\\LINKED\\inner.bin")->host, m_game / "Linked" / "Inner.BIN");
    EXPECT_EQ(Find("d:\\voice.rcf")->host, m_game / "Voice.Rcf");
    EXPECT_FALSE(Find("d:\\dangling.bin"));
    EXPECT_FALSE(Find("d:\\Dangling.bin"));
    EXPECT_FALSE(Find("d:\\default.rcf\\x"));  // a file is no folder
}

// A folder that may be searched but not read: only names as written are found.
TEST_F(VfsTree, UnreadableFolderFindsNamesAsWritten) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
    InitVfs();
    WriteFile(m_game / "Locked" / "Exact.bin");
    fs::permissions(m_game / "Locked", fs::perms::owner_exec);
    EXPECT_TRUE(Find("d:\\Locked\\Exact.bin"));
    EXPECT_FALSE(Find("d:\\Locked\\exact.bin"));
    fs::permissions(m_game / "Locked", fs::perms::owner_all);
}

TEST_F(VfsTree, ParseTable) {
    InitVfs();
    struct Case {
        const char* guest;
        const char* display;  // null: no result
    } cases[] = {
        {"d:", "D:\\"},
        {"D:\\", "D:\\"},
        {"dx:\\a", nullptr},
        {"hdd:\\a\\..\\..\\b", nullptr},
        {"hdd:\\a\\.\\b\\..\\c", "hdd:\\a\\c"},
        {"E:/Saves//Slot1/", "hdd:\\Saves\\Slot1"},
        {"\\Device\\Harddisk0\\Partition1\\x", "hdd:\\x"},
        {"\\device\\harddisk0\\partition10\\x", nullptr},
        {"\\device\\harddisk0\\cache0", "cache:\\"},
        {"z:\\tmp", "cache:\\tmp"},
        {"cache:tmp", nullptr},
        {"unknown:\\x", nullptr},
        {"/etc/passwd", nullptr},
        {"\\etc", nullptr},
        {"relative\\name", nullptr},
        {"\\??\\", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        auto path = vfs::Parse(c.guest, nullptr);
        if (!c.display) {
            EXPECT_FALSE(path) << c.guest << " gave " << (path ? path->Display() : "");
            continue;
        }
        ASSERT_TRUE(path) << c.guest;
        EXPECT_EQ(path->Display(), c.display) << c.guest;
    }
    EXPECT_FALSE(vfs::Parse(std::string_view("d:\\a\0b", 6), nullptr));
    EXPECT_FALSE(vfs::Parse("d:\\x", nullptr)->Writable());
    EXPECT_TRUE(vfs::Parse("hdd:\\x", nullptr)->Writable());
    EXPECT_EQ(vfs::VirtualPath{}.Display(), "?:\\");
}

TEST_F(VfsTree, RelativeNamesUseTheDirectoryAndStayInsideIt) {
    InitVfs();
    auto art = vfs::Parse("D:\\Art", nullptr);
    ASSERT_TRUE(art);
    struct Case {
        const char* guest;
        const char* display;
    } cases[] = {
        {"menu.p3d", "D:\\Art\\menu.p3d"},
        {"sub/./x", "D:\\Art\\sub\\x"},
        {"..\\Default.rcf", "D:\\Default.rcf"},
        {"..\\..\\outside.txt", nullptr},
        {"\\rooted", nullptr},
        {"/rooted", nullptr},
        {"hdd:\\abs", "hdd:\\abs"},
    };
    for (const Case& c : cases) {
        auto path = vfs::Parse(c.guest, &*art);
        if (!c.display) {
            EXPECT_FALSE(path) << c.guest;
            continue;
        }
        ASSERT_TRUE(path) << c.guest;
        EXPECT_EQ(path->Display(), c.display) << c.guest;
    }
    vfs::VirtualPath noMount;
    EXPECT_FALSE(vfs::Parse("x", &noMount));
}

TEST_F(VfsTree, DotDotNeverLeavesTheMount) {
    InitVfs();
    for (const char* guest : {"d:\\..\\outside.txt", "d:\\art\\..\\..\\outside.txt", "D:/../game/Default.Rcf",
                              "hdd:\\..\\game\\default.rcf", "game:\\..", "\\??\\d:\\..\\outside.txt"}) {
        EXPECT_FALSE(vfs::Parse(guest, nullptr)) << guest;
    }
    // A name that only looks like ".." is an ordinary name.
    auto dots = vfs::Parse("d:\\...\\x", nullptr);
    ASSERT_TRUE(dots);
    EXPECT_EQ(dots->relative, "...\\x");
    EXPECT_FALSE(vfs::Locate(*dots));
}

TEST_F(VfsTree, ModsOverrideTheDumpInLoadOrder) {
    WriteFile(m_mods / "ModB" / "DEFAULT.RCF", "b");
    WriteFile(m_mods / "moda" / "default.rcf", "a");
    WriteFile(m_mods / "moda" / "ART" / "menu.p3d", "a");
    WriteFile(m_mods / "_disabled" / "default.rcf", "off");
    WriteFile(m_mods / ".hidden" / "default.rcf", "off");
    fs::create_directories(m_mods / "Zeta");
    WriteFile(m_mods / "notadir.txt", "file");
    fs::create_directory_symlink(m_mods / "Zeta", m_mods / "linked");

    auto names = [] {
        std::vector<std::string> out;
        for (const vfs::ModInfo& mod : vfs::Mods()) out.push_back(mod.name);
        return out;
    };

    // Without load_order.txt: case-insensitive name order.
    InitVfs();
    EXPECT_EQ(names(), (std::vector<std::string>{"linked", "moda", "ModB", "Zeta"}));
    EXPECT_EQ(Find("D:\\default.rcf")->source, "mod moda");
    EXPECT_EQ(Find("D:\\Art\\Menu.p3d")->host, m_mods / "moda" / "ART" / "menu.p3d");
    EXPECT_EQ(Find("D:\\english.rcf")->source, "game");

    // Named mods first, in file order; disabled and unknown names are skipped.
    WriteFile(m_mods / "load_order.txt", "# my order\n  modb \r\n\n\t# zeta\n_disabled\n.hidden\nmissing\nMODB\nZeta");
    InitVfs();
    EXPECT_EQ(names(), (std::vector<std::string>{"ModB", "Zeta", "linked", "moda"}));
    auto top = Find("d:\\DEFAULT.rcf");
    ASSERT_TRUE(top);
    EXPECT_EQ(top->source, "mod ModB");
    EXPECT_EQ(top->host, m_mods / "ModB" / "DEFAULT.RCF");
    EXPECT_EQ(vfs::Mods()[0].root, m_mods / "ModB");

    vfs::AddMod({"extra", m_dir.path() / "extra"});
    EXPECT_EQ(vfs::Mods().back().name, "extra");
    InitVfs();  // the list is rebuilt from the folder
    EXPECT_EQ(vfs::Mods().size(), 4u);
}

TEST(VfsLoadOrder, OrderTable) {
    const std::vector<std::string> enabled = {"alpha", "Beta", "gamma"};
    struct Case {
        const char* text;
        std::vector<std::string> order;
        std::vector<std::string> notEnabled;
    } cases[] = {
        {"", {"alpha", "Beta", "gamma"}, {}},
        {"gamma\nbeta", {"gamma", "Beta", "alpha"}, {}},
        {"gamma\ngamma", {"gamma", "alpha", "Beta"}, {"gamma"}},
        {"  # beta\n\t BETA \t\r\n", {"Beta", "alpha", "gamma"}, {}},
        {"delta\r\n\r\n", {"alpha", "Beta", "gamma"}, {"delta"}},
        {"al pha\nalpha ", {"alpha", "Beta", "gamma"}, {"al pha"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> notEnabled;
        EXPECT_EQ(vfs::OrderMods(enabled, c.text, &notEnabled), c.order) << c.text;
        EXPECT_EQ(notEnabled, c.notEnabled) << c.text;
    }
}

TEST_F(VfsTree, BadLoadOrderFilesNeverHang) {
    WriteFile(m_mods / "one" / "x", "");
    WriteFile(m_mods / "two" / "x", "");
    const fs::path order = m_mods / "load_order.txt";

    ASSERT_EQ(::mkfifo(order.c_str(), 0600), 0);  // reading it would block for ever
    InitVfs();
    EXPECT_EQ(vfs::Mods().size(), 2u);
    fs::remove(order);

    fs::create_directory(order);
    InitVfs();
    EXPECT_EQ(vfs::Mods().size(), 3u);  // a folder of that name is just another mod
    fs::remove(order);

    std::string junk;
    for (int i = 0; i < 70000; ++i) junk += static_cast<char>((i * 2654435761u) >> 24);
    WriteFile(order, junk + "\ntwo");
    InitVfs();
    ASSERT_EQ(vfs::Mods().size(), 2u);
    EXPECT_EQ(vfs::Mods()[0].name, "two");

    WriteFile(order, std::string(10 * 1024 * 1024, 'm') + "\ntwo");
    InitVfs();
    ASSERT_EQ(vfs::Mods().size(), 2u);
    EXPECT_EQ(vfs::Mods()[0].name, "two");
}

TEST_F(VfsTree, WritableAreas) {
    InitVfs();  // userdata does not exist yet
    auto hdd = Find("hdd:");
    ASSERT_TRUE(hdd);
    EXPECT_EQ(hdd->host, m_user / "hdd");
    EXPECT_EQ(hdd->source, "userdata");
    EXPECT_FALSE(Find("hdd:\\save.bin"));
    EXPECT_FALSE(fs::exists(m_user));  // nothing is created

    WriteFile(m_user / "hdd" / "saves" / "Slot1.BIN", "s");
    auto slot = Find("E:\\SAVES\\slot1.bin");
    ASSERT_TRUE(slot);
    EXPECT_EQ(slot->host, m_user / "hdd" / "saves" / "Slot1.BIN");
    EXPECT_EQ(slot->source, "userdata");
    // A new file lands in the existing folder as spelled on disk.
    EXPECT_EQ(vfs::WritableHostPath(*vfs::Parse("hdd:\\Saves\\SLOT2.bin", nullptr)),
              m_user / "hdd" / "saves" / "SLOT2.bin");
    EXPECT_EQ(vfs::WritableHostPath(*vfs::Parse("z:\\a", nullptr)), m_user / "cache" / "a");
    // Mods never serve writable paths, and the game mount's writable path ignores them.
    WriteFile(m_mods / "m" / "Default.rcf", "mod");
    InitVfs();
    EXPECT_EQ(vfs::WritableHostPath(*vfs::Parse("d:\\default.rcf", nullptr)), m_game / "Default.Rcf");
    EXPECT_TRUE(vfs::WritableHostPath(vfs::VirtualPath{}).empty());
    EXPECT_FALSE(vfs::Locate(vfs::VirtualPath{}));
    EXPECT_EQ(vfs::GameDir(), m_game);
    EXPECT_EQ(vfs::UserDataDir(), m_user);
}

TEST_F(VfsTree, ListingMergesModsOverTheDump) {
    WriteFile(m_mods / "m1" / "ART" / "menu.p3d", "m1");
    WriteFile(m_mods / "m2" / "art" / "EXTRA.P3D", "m2");
    WriteFile(m_mods / "m2" / "art" / "more.p3d", "m2");
    WriteFile(m_game / "Art" / "Logo.p3d", "dump");
    WriteFile(m_game / "Art" / "Extra.p3d", "dump");
    InitVfs();

    auto entries = vfs::List(*vfs::Parse("D:\\art", nullptr));
    std::vector<std::string> names;
    for (const auto& entry : entries) names.push_back(entry.name);
    ASSERT_EQ(names.size(), 4u);
    // Highest priority first: m1, then m2 (directory order inside each), then the dump.
    EXPECT_EQ(names[0], "menu.p3d");
    EXPECT_EQ(entries[0].host, m_mods / "m1" / "ART" / "menu.p3d");
    std::vector<std::string> fromM2(names.begin() + 1, names.begin() + 3);
    std::sort(fromM2.begin(), fromM2.end());
    EXPECT_EQ(fromM2, (std::vector<std::string>{"EXTRA.P3D", "more.p3d"}));
    EXPECT_EQ(names[3], "Logo.p3d");
    EXPECT_EQ(entries[3].host, m_game / "Art" / "Logo.p3d");

    EXPECT_TRUE(vfs::List(*vfs::Parse("d:\\nothing", nullptr)).empty());
    EXPECT_TRUE(vfs::List(vfs::VirtualPath{}).empty());
    // ART (m1), Default.Rcf, english.rcf: the dump's Art is merged away.
    EXPECT_EQ(vfs::List(*vfs::Parse("d:", nullptr)).size(), 3u);
}

TEST(VfsWildcard, MatchTable) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    } cases[] = {
        {"", "anything", true},       {"*", "x.y", true},         {"*.*", "noext", true},
        {"*.bin", "DATA.BIN", true},  {"a?c", "abc", true},       {"abc.*", "abc", false},
        {"abc.", "abc", true},        {"abc*.", "abc", true},     {"*.bin", "data.bin.txt", false},
        {"*a*b", "xxaxxb", true},     {"*a*b", "xxaxxbc", false}, {"a*", "", false},
        {"?", "", false},             {"a", "ab", false},         {"ab", "a", false},
        {"*x*", "*", false},          {"a*", "A*", true},         {"*.P3D", "menu.p3d", true},
        {"m??u.*", "MENU.p3d", true}, {"**", "", true},           {"*", "", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vfs::MatchWildcard(c.pattern, c.name), c.match) << c.pattern << " vs " << c.name;
    }
}

TEST_F(VfsTree, ContentMounts) {
    InitVfs();
    const fs::path first = m_dir.path() / "content1";
    const fs::path second = m_dir.path() / "content2";
    WriteFile(first / "Save.DAT", "1");
    WriteFile(second / "save.dat", "2");

    EXPECT_FALSE(vfs::MountContent("", first));
    EXPECT_FALSE(vfs::MountContent(std::string(33, 'a'), first));
    EXPECT_TRUE(vfs::MountContent(std::string(32, 'b'), first));
    for (const char* bad : {"a/b", "a\\b", "a:b"}) EXPECT_FALSE(vfs::MountContent(bad, first)) << bad;
    EXPECT_FALSE(vfs::Parse("a:b:\\x", nullptr));

    ASSERT_TRUE(vfs::MountContent("Save", first));
    auto early = vfs::Parse("SAVE:\\save.dat", nullptr);
    ASSERT_TRUE(early);
    EXPECT_EQ(early->Display(), "Save:\\save.dat");
    EXPECT_TRUE(early->Writable());
    EXPECT_EQ(vfs::Locate(*early)->host, first / "Save.DAT");

    ASSERT_TRUE(vfs::MountContent("SAVE", second));
    auto later = vfs::Parse("save:/save.dat", nullptr);
    ASSERT_TRUE(later);
    EXPECT_EQ(later->mount, early->mount);
    EXPECT_EQ(later->Display(), "Save:\\save.dat");
    EXPECT_EQ(vfs::Locate(*later)->host, second / "save.dat");

    vfs::UnmountContent("sAvE");
    EXPECT_FALSE(vfs::Parse("save:\\save.dat", nullptr));
    EXPECT_TRUE(vfs::Locate(*early));  // paths made earlier keep working
    ASSERT_TRUE(vfs::MountContent("save", first));
    EXPECT_EQ(vfs::Parse("save:\\x", nullptr)->Display(), "Save:\\x");
    // A device name wins over a content mount of the same name.
    ASSERT_TRUE(vfs::MountContent("game", first));
    EXPECT_EQ(vfs::Parse("game:\\x", nullptr)->Display(), "D:\\x");
}

// Folder listings are kept between lookups; a change to the folder is seen
// at once.
TEST_F(VfsTree, ListingCacheSeesChanges) {
    InitVfs();
    AgeFolder(m_game);
    EXPECT_FALSE(Find("D:\\NEW.BIN"));  // listing of an old folder: kept

    WriteFile(m_game / "new.bin", "n");  // the folder's time moves
    auto created = Find("D:\\NEW.BIN");
    ASSERT_TRUE(created);
    EXPECT_EQ(created->host, m_game / "new.bin");

    AgeFolder(m_game);
    EXPECT_TRUE(Find("D:\\NEW.BIN"));
    fs::rename(m_game / "new.bin", m_game / "New2.bin");
    EXPECT_FALSE(Find("D:\\NEW.BIN"));
    EXPECT_EQ(Find("d:\\new2.BIN")->host, m_game / "New2.bin");

    // A folder replaced by another with the very same time is told apart by its inode.
    WriteFile(m_game / "Sub" / "One.bin");
    AgeFolder(m_game / "Sub", 1000000000);
    EXPECT_TRUE(Find("D:\\sub\\ONE.BIN"));
    fs::rename(m_game / "Sub", m_dir.path() / "oldsub");
    WriteFile(m_game / "Sub" / "Two.bin");
    AgeFolder(m_game / "Sub", 1000000000);
    EXPECT_FALSE(Find("D:\\sub\\ONE.BIN"));
    EXPECT_EQ(Find("D:\\sub\\two.bin")->host, m_game / "Sub" / "Two.bin");
}

// The art loader looks files up on a worker thread while the main thread may
// mount content; the listing cache and the content table are shared.
TEST_F(VfsTree, LookupsFromSeveralThreads) {
    WriteFile(m_dir.path() / "dlc" / "Pack.BIN", "p");
    InitVfs();
    ASSERT_TRUE(vfs::MountContent("dlc", m_dir.path() / "dlc"));
    std::vector<std::thread> workers;
    std::vector<int> misses(4, 0);
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([this, t, &misses] {
            for (int i = 0; i < 200; ++i) {
                if (!Find(i % 2 ? "D:\\DEFAULT.RCF" : "d:\\art\\MENU.p3d")) ++misses[t];
                if (auto path = vfs::Parse("DLC:\\pack.bin", nullptr)) {
                    if (!vfs::Locate(*path)) ++misses[t];
                }
            }
        });
    }
    for (int i = 0; i < 200; ++i) {
        vfs::MountContent("DLC", m_dir.path() / "dlc");
        if (i % 50 == 0) AgeFolder(m_game);
    }
    for (std::thread& worker : workers) worker.join();
    for (int t = 0; t < 4; ++t) EXPECT_EQ(misses[t], 0) << t;
}

} // namespace
