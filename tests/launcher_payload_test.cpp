// Payload index, extraction, stale-file removal and the version file, on
// payload trees written by the test fixture.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <chrono>
#include <map>
#include <set>
#include <sstream>

#include "launcher/installer.h"
#include "launcher/installer_payload.h"
#include "launcher/setup_script.h"
#include "launcher/sha256.h"
#include "runtime/platform/text.h"
#include "tests/support/payload_fixture.h"

namespace fs = std::filesystem;
using payload_fixture::Entry;
using payload_fixture::TempDir;

namespace {

using payload_fixture::AgeFiles;
using payload_fixture::Rewritten;

const fs::path SETUP_SCRIPT = fs::path(VELKOR_SOURCE_DIR) / "tools" / "setup.py";

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

// Every file and link below `root` (the index excluded): its content digest
// and executable bits, or its link target.
std::map<std::string, std::string> Digest(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = it->path().lexically_relative(root).string();
        if (rel == PAYLOAD_INDEX) continue;
        if (it->is_symlink()) {
            tree[rel] = "link " + fs::read_symlink(it->path()).string();
        } else if (it->is_regular_file()) {
            const auto perms = fs::status(it->path()).permissions() & fs::perms::owner_exec;
            tree[rel] = Sha256File(it->path()) + (perms != fs::perms::none ? " x" : "");
        }
    }
    return tree;
}

Payload Written(const fs::path& root, const std::string& tag, const std::vector<Entry>& entries) {
    const std::string error = payload_fixture::WritePayload(root, tag, entries);
    EXPECT_EQ(error, "");
    Payload payload;
    EXPECT_TRUE(ReadPayloadIndex(root, payload));
    return payload;
}

class PayloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(tmp.path().empty());
        g_inst.bundle = true;
        g_inst.installDir = tmp.path() / "install";
        g_payload = Payload{};
    }
    void TearDown() override {
        g_payload = Payload{};
        g_inst.bundle = false;
        g_inst.installDir.clear();
    }
    TempDir tmp{"payload"};
};

} // namespace

TEST(PayloadIndex, LinesAreClassifiedByTheirBeginning) {
    struct Case {
        const char* name;
        std::string index;
        bool present;
        std::string tag;
        std::vector<PayloadFile> files;
    };
    const std::vector<Case> cases = {
        {"only a tag", "tag v1.2\n", false, "v1.2", {}},
        {"space in the path", "file base 12 tools/a b.py\n", true, "", {{"base", 12, L"tools/a b.py", ""}}},
        {"link", "link base lib/libx.so\tlibx.so.1\n", true, "", {{"base", 0, L"lib/libx.so", "libx.so.1"}}},
        {"later tag wins, CR LF cut", "tag a\r\ntag b\r\nfile dlss 7 x/y z\r\n", true, "b",
         {{"dlss", 7, L"x/y z", ""}}},
        {"UTF-8 path", "file modding 3 dados/ação.txt\n", true, "", {{"modding", 3, L"dados/a\u00e7\u00e3o.txt", ""}}},
        {"malformed lines are ignored",
         "file base\nfile base 12\nlink base lib/x.so\nlink base\n# comment\ndir x\n\nfile base 1 ok\n", true, "",
         {{"base", 1, L"ok", ""}}},
        {"lone CR ends the line", "file base 4 a\rb\n", true, "", {{"base", 4, L"a", ""}}},
        {"long line is read in pieces", "file base 5 " + std::string(5000, 'x') + "\n", true, "",
         {{"base", 5, std::wstring(4095 - 12, L'x'), ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir tmp;
        WriteText(tmp.path() / PAYLOAD_INDEX, c.index);
        Payload payload;
        ASSERT_TRUE(ReadPayloadIndex(tmp.path(), payload));
        EXPECT_EQ(payload.present, c.present);
        EXPECT_EQ(payload.tag, c.tag);
        EXPECT_EQ(payload.root, tmp.path());
        ASSERT_EQ(payload.files.size(), c.files.size());
        for (size_t i = 0; i < c.files.size(); ++i) {
            EXPECT_EQ(payload.files[i].component, c.files[i].component);
            EXPECT_EQ(payload.files[i].size, c.files[i].size);
            EXPECT_TRUE(payload.files[i].path == c.files[i].path);
            EXPECT_EQ(payload.files[i].link, c.files[i].link);
        }
    }
}

TEST(PayloadIndex, FoundThroughAppDirAndTheFirstIndexDecides) {
    TempDir tmp;
    WriteText(tmp.path() / "payload" / PAYLOAD_INDEX, "tag t\nfile base 1 a\n");
    setenv("APPDIR", tmp.path().c_str(), 1);
    Payload payload = ReadPayload();
    EXPECT_TRUE(payload.present);
    EXPECT_EQ(payload.root, tmp.path() / "payload");
    EXPECT_EQ(payload.tag, "t");

    // An index without entries still ends the search: no payload.
    WriteText(tmp.path() / "payload" / PAYLOAD_INDEX, "tag t\n");
    payload = ReadPayload();
    EXPECT_FALSE(payload.present);
    unsetenv("APPDIR");
}

TEST(PayloadIndex, BytesLeaveOutSkippedComponents) {
    Payload payload;
    payload.files = {{"base", 10, L"a", ""}, {"modding", 200, L"b", ""}, {"dlss", 3000, L"c", ""}, {"base", 0, L"l", "a"}};
    EXPECT_EQ(payload.Bytes({}), 3210u);
    EXPECT_EQ(payload.Bytes({"dlss"}), 210u);
    EXPECT_EQ(payload.Bytes({"dlss", "modding"}), 10u);
}

TEST(PayloadExtract, WorkerCount) {
    const std::pair<unsigned, unsigned> cases[] = {{0, 1}, {1, 1}, {3, 3}, {4, 4}, {16, 4}};
    for (auto [threads, workers] : cases) EXPECT_EQ(ExtractWorkerCount(threads), workers) << threads;
}

TEST_F(PayloadTest, ExtractionReproducesThePayload) {
    const fs::path source = tmp.path() / "payload";
    const Payload payload = Written(source, "v1", payload_fixture::SampleEntries(SETUP_SCRIPT, "/usr/bin/python3"));
    ASSERT_TRUE(payload.present);
    ExtractProgress progress;
    const fs::path dest = tmp.path() / "dest";
    EXPECT_EQ(ExtractPayload(payload, dest, {}, progress), "");
    EXPECT_EQ(Digest(dest), Digest(source));
    EXPECT_EQ(fs::read_symlink(dest / "lib/libx.so"), "libx.so.1");
    EXPECT_EQ(fs::read_symlink(dest / "toolchain/python/bin/python3"), "/usr/bin/python3");
    EXPECT_EQ(progress.total.load(), payload.Bytes({}));
    EXPECT_EQ(progress.done.load(), progress.total.load());

    // An unchanged tree: nothing is written again, everything counts as done.
    AgeFiles(dest);
    ExtractProgress again;
    EXPECT_EQ(ExtractPayload(payload, dest, {}, again), "");
    EXPECT_TRUE(Rewritten(dest).empty());
    EXPECT_EQ(again.done.load(), payload.Bytes({}));
}

TEST_F(PayloadTest, ExistingTargetsAreJudgedBySizeAlone) {
    const fs::path source = tmp.path() / "payload";
    const Payload payload = Written(source, "", {{"base", "same.txt", "payload!", "", {}, false},
                                                  {"base", "other.txt", "payload text", "", {}, false},
                                                  {"base", "lib/libx.so", "", "libx.so.1", {}, false}});
    const fs::path dest = tmp.path() / "dest";
    WriteText(dest / "same.txt", "existing");     // same size, other bytes: kept
    WriteText(dest / "other.txt", "short");       // other size: overwritten
    WriteText(dest / "lib/libx.so", "a plain file"); // replaced by the link
    ExtractProgress progress;
    EXPECT_EQ(ExtractPayload(payload, dest, {}, progress), "");
    EXPECT_EQ(ReadText(dest / "same.txt"), "existing");
    EXPECT_EQ(ReadText(dest / "other.txt"), "payload text");
    EXPECT_TRUE(fs::is_symlink(dest / "lib/libx.so"));
    EXPECT_EQ(fs::read_symlink(dest / "lib/libx.so"), "libx.so.1");
}

TEST_F(PayloadTest, CancelledBeforeTheStartCopiesNothing) {
    const Payload payload = Written(tmp.path() / "payload", "", payload_fixture::SampleEntries(SETUP_SCRIPT, ""));
    ExtractProgress progress;
    progress.cancel = true;
    const fs::path dest = tmp.path() / "dest";
    EXPECT_EQ(ExtractPayload(payload, dest, {}, progress), "cancelled");
    EXPECT_FALSE(fs::exists(dest));
    EXPECT_EQ(progress.done.load(), 0u);
}

TEST_F(PayloadTest, EntriesLeavingTheDestinationFailAndWriteNothing) {
    const fs::path source = tmp.path() / "payload";
    WriteText(source / "ok.txt", "fine");
    struct Case {
        const char* name;
        std::string index;
        std::string named; // the path the error names
    };
    const std::vector<Case> cases = {
        {"parent step", "file base 4 ok.txt\nfile base 4 ../evil.txt\n", "../evil.txt"},
        {"parent step inside", "file base 4 a/../../evil.txt\n", "a/../../evil.txt"},
        {"absolute", "file base 4 " + (tmp.path() / "evil.txt").string() + "\n", (tmp.path() / "evil.txt").string()},
        {"absolute link", "link base /tmp/evil-link\tok.txt\n", "/tmp/evil-link"},
        {"link to outside, then through it",
         "link base up\t" + tmp.path().string() + "\nfile base 4 up/evil.txt\n", "up/evil.txt"},
        {"empty path", "link base \tok.txt\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteText(source / PAYLOAD_INDEX, c.index);
        Payload payload;
        ASSERT_TRUE(ReadPayloadIndex(source, payload));
        const fs::path dest = tmp.path() / "dest";
        ExtractProgress progress;
        const std::string error = ExtractPayload(payload, dest, {}, progress);
        EXPECT_EQ(error, c.named + ": payload entry leads outside the install folder");
        EXPECT_FALSE(fs::exists(dest));
        EXPECT_FALSE(fs::exists(tmp.path() / "evil.txt"));
        EXPECT_FALSE(fs::exists(fs::symlink_status("/tmp/evil-link")));
    }
}

TEST_F(PayloadTest, CopyErrorsNameTheTarget) {
    const fs::path source = tmp.path() / "payload";
    const Payload payload = Written(source, "", {{"base", "sub/a.txt", "aaaa", "", {}, false}});
    // A folder that cannot be made: its parent is a file.
    WriteText(tmp.path() / "blocker", "file");
    ExtractProgress progress;
    std::string error = ExtractPayload(payload, tmp.path() / "blocker", {}, progress);
    EXPECT_EQ(error.rfind((tmp.path() / "blocker" / "sub").string() + ": ", 0), 0u) << error;

    // A source that vanished.
    fs::remove(source / "sub/a.txt");
    ExtractProgress again;
    error = ExtractPayload(payload, tmp.path() / "dest", {}, again);
    EXPECT_EQ(error, (tmp.path() / "dest" / "sub/a.txt").string() + ": No such file or directory");
}

TEST_F(PayloadTest, CreateDirectoriesReportsTheFolder) {
    std::string error;
    EXPECT_TRUE(CreateDirectories(tmp.path() / "a/b/c", error));
    EXPECT_TRUE(CreateDirectories(tmp.path() / "a/b/c", error));
    WriteText(tmp.path() / "file", "x");
    EXPECT_FALSE(CreateDirectories(tmp.path() / "file/sub", error));
    EXPECT_EQ(error.rfind((tmp.path() / "file/sub").string() + ": ", 0), 0u) << error;
}

TEST_F(PayloadTest, ComponentsComeAndGoAcrossInstallations) {
    const fs::path source = tmp.path() / "payload";
    g_payload = Written(source, "v2", payload_fixture::SampleEntries(SETUP_SCRIPT, ""));
    const fs::path root = Root();
    fs::create_directories(PlayDir());
    auto install = [&](const ComponentSet& skip) {
        ExtractProgress progress;
        EXPECT_EQ(ExtractPayload(g_payload, root, skip, progress), "");
        RemoveStaleFiles(skip);
    };

    install({"modding", "dlss"});
    EXPECT_FALSE(fs::exists(root / "modding"));
    EXPECT_TRUE(fs::exists(root / "data/big.bin"));

    AgeFiles(root);
    install({"dlss"});
    EXPECT_EQ(Rewritten(root), (std::set<std::string>{"modding/readme.txt", "modding/tools/unpack.bin"}));

    install({"modding", "dlss"});
    EXPECT_FALSE(fs::exists(root / "modding/readme.txt"));
    EXPECT_FALSE(fs::exists(root / "modding/tools/unpack.bin"));
    EXPECT_TRUE(fs::exists(root / "data/big.bin"));

    // The list names exactly the installed entries, in code point order.
    std::string expected;
    std::set<std::wstring> paths;
    for (const PayloadFile& f : g_payload.files) {
        if (f.component == "base") paths.insert(f.path);
    }
    for (const std::wstring& p : paths) expected += plat::NarrowUtf8(p) + "\n";
    EXPECT_EQ(ReadText(PlayDir() / INSTALLED_FILES), expected);
}

TEST_F(PayloadTest, StaleListNeverReachesOutsideTheRoot) {
    g_payload = Written(tmp.path() / "payload", "", {{"base", "keep.txt", "k", "", {}, false}});
    const fs::path root = Root();
    WriteText(root / "keep.txt", "k");
    WriteText(root / "old.txt", "old");
    WriteText(root / "dir/old two.txt", "old");
    const fs::path outside = tmp.path() / "outside.txt";
    WriteText(outside, "precious");
    WriteText(PlayDir() / INSTALLED_FILES, "keep.txt\nold.txt\r\ndir/old two.txt\n../outside.txt\n" +
                                               outside.string() + "\nVelkorRecomp/../../outside.txt\n\n");
    RemoveStaleFiles({});
    EXPECT_TRUE(fs::exists(root / "keep.txt"));
    EXPECT_FALSE(fs::exists(root / "old.txt"));
    EXPECT_FALSE(fs::exists(root / "dir/old two.txt"));
    EXPECT_EQ(ReadText(outside), "precious");
    EXPECT_EQ(ReadText(PlayDir() / INSTALLED_FILES), "keep.txt\n");
}

TEST_F(PayloadTest, VersionFileHoldsTheTag) {
    fs::create_directories(PlayDir());
    g_payload.tag = "";
    EXPECT_FALSE(WriteVersionFile());
    EXPECT_FALSE(fs::exists(PlayDir() / VERSION_FILE));
    g_payload.tag = "2026.12-r3";
    EXPECT_TRUE(WriteVersionFile());
    EXPECT_EQ(ReadText(PlayDir() / VERSION_FILE), "2026.12-r3\n");
}
