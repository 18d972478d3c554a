// The RCF archive reader as the art loader meets it: default.rcf found through
// the mount table, entries bound to names by offset order, case-insensitive
// lookup, mods overriding entries with loose files, and damaged archives.
#include "runtime/fs/vfs.h"
#include "runtime/settings/menu_art_internal.h"
#include "tests/support/rcf_writer.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace ma = settings::menu_art;
namespace fs = std::filesystem;
using testsupport::RcfEntry;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

void PutBE(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (24 - 8 * i));
}
void PutLE(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
}

// A hand-made archive: directory records in the order given (offset, size),
// then a name table whose records carry `lengths` (LE) and `names` bytes.
struct RawArchive {
    std::vector<std::pair<uint32_t, uint32_t>> records;
    std::vector<std::pair<uint32_t, std::string>> names;  // length field, bytes
    size_t fileSize = 400;

    std::vector<uint8_t> Build() const {
        std::vector<uint8_t> table(12, 0);
        for (const auto& [length, bytes] : names) {
            table.resize(table.size() + 12, 0);
            PutLE(table, table.size() - 4, length);
            table.insert(table.end(), bytes.begin(), bytes.end());
            table.insert(table.end(), 7, 0xEE);
        }
        std::vector<uint8_t> out(std::max<size_t>(fileSize, 60 + records.size() * 12 + table.size()), 0);
        std::memcpy(out.data(), "ATG CORE CEMENT LIBRARY", 23);
        const size_t dir = 60, nameTable = dir + records.size() * 12;
        PutBE(out, 0x24, uint32_t(dir));
        PutBE(out, 0x2C, uint32_t(nameTable));
        PutBE(out, 0x30, uint32_t(table.size()));
        PutBE(out, 0x38, uint32_t(records.size()));
        for (size_t i = 0; i < records.size(); ++i) {
            PutBE(out, dir + i * 12, 0xABCD0000u + uint32_t(i));
            PutBE(out, dir + i * 12 + 4, records[i].first);
            PutBE(out, dir + i * 12 + 8, records[i].second);
        }
        std::copy(table.begin(), table.end(), out.begin() + nameTable);
        return out;
    }
};

class RcfTest : public ::testing::Test {
protected:
    testsupport::TempDir tmp{"art-rcf"};
    fs::path game = tmp / "game";
    fs::path mods = tmp / "mods";

    void SetUp() override {
        fs::create_directories(game);
        fs::create_directories(mods);
        Mount();
    }
    void Mount() { vfs::Init({game, mods, tmp / "userdata"}); }
    void WriteArchive(const std::vector<uint8_t>& bytes, const std::string& name = "default.rcf") {
        ASSERT_TRUE(testsupport::WriteFileBytes(game / name, bytes));
    }
    std::string Read(ma::Rcf& rcf, const std::string& entry, bool* ok = nullptr, std::string* source = nullptr) {
        std::vector<unsigned char> data;
        std::string from;
        const bool r = ma::ReadEntry(rcf, entry, data, from);
        if (ok) *ok = r;
        if (source) *source = from;
        return std::string(data.begin(), data.end());
    }
};

TEST(RcfBytes, ReadersAndLowerCase) {
    const uint8_t b[] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(ma::BE32(b), 0x12345678u);
    EXPECT_EQ(ma::LE32(b), 0x78563412u);
    const uint8_t one[] = {0x00, 0x00, 0x80, 0x3F};
    EXPECT_EQ(ma::LEF(one), 1.0f);
    EXPECT_EQ(ma::Lower("Package\\B4C85FE7.P3D"), "package\\b4c85fe7.p3d");
}

TEST_F(RcfTest, WrittenArchiveIsFoundThroughTheMountTableAndReadByName) {
    // Written as Default.RCF: the mount table finds it whatever its case on disk.
    WriteArchive(testsupport::BuildRcf({{"package\\b4c85fe7.p3d", Bytes("persistent")},
                                        {"Package\\C1E387C7.p3d", Bytes("in game")},
                                        {"package\\cdd70a8c.P3D", Bytes("front end")},
                                        {"empty.bin", {}}}),
                 "Default.RCF");
    ma::Rcf rcf;
    ASSERT_TRUE(ma::OpenRcf(rcf));
    EXPECT_EQ(rcf.entries.size(), 4u);
    std::string source;
    bool ok = false;
    EXPECT_EQ(Read(rcf, "package\\b4c85fe7.p3d", &ok, &source), "persistent");
    EXPECT_TRUE(ok);
    EXPECT_EQ(source, "default.rcf");
    EXPECT_EQ(Read(rcf, "PACKAGE\\B4C85FE7.P3D"), "persistent");
    EXPECT_EQ(Read(rcf, "package\\c1e387c7.p3d"), "in game");
    EXPECT_EQ(Read(rcf, "Package\\CDD70A8C.p3d"), "front end");
    Read(rcf, "empty.bin", &ok);
    EXPECT_TRUE(ok);  // a zero-length entry reads as empty
    Read(rcf, "package\\missing.p3d", &ok);
    EXPECT_FALSE(ok);
    Read(rcf, "package/b4c85fe7.p3d", &ok);
    EXPECT_FALSE(ok);  // the archive's separator is the backslash
}

TEST_F(RcfTest, NamesAreBoundToDirectoryRecordsInOffsetOrder) {
    RawArchive a;
    a.records = {{300, 3}, {100, 3}, {200, 3}};
    a.names = {{6, std::string("first\0", 6)}, {7, std::string("second\0", 7)}, {6, std::string("third\0", 6)}};
    std::vector<uint8_t> bytes = a.Build();
    std::memcpy(bytes.data() + 100, "AAA", 3);
    std::memcpy(bytes.data() + 200, "BBB", 3);
    std::memcpy(bytes.data() + 300, "CCC", 3);
    WriteArchive(bytes);
    ma::Rcf rcf;
    ASSERT_TRUE(ma::OpenRcf(rcf));
    EXPECT_EQ(rcf.entries.at("first"), std::make_pair(100u, 3u));
    EXPECT_EQ(rcf.entries.at("second"), std::make_pair(200u, 3u));
    EXPECT_EQ(rcf.entries.at("third"), std::make_pair(300u, 3u));
    EXPECT_EQ(Read(rcf, "FIRST"), "AAA");
    EXPECT_EQ(Read(rcf, "third"), "CCC");
}

TEST_F(RcfTest, NameTableRecordsAsWritten) {
    struct Case {
        const char* what;
        std::vector<std::pair<uint32_t, std::string>> names;
        std::vector<std::string> bound;
    };
    const Case cases[] = {
        {"name ends at its first NUL", {{8, std::string("abc\0\0\0\0\0", 8)}}, {"abc"}},
        {"name without NUL uses all L bytes", {{4, "Wxyz"}}, {"wxyz"}},
        {"length runs past the table: the walk ends, earlier names stay",
         {{4, std::string("one\0", 4)}, {4000, "two"}}, {"one"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RawArchive a;
        a.records = {{100, 1}, {101, 1}, {102, 1}};
        a.names = c.names;
        WriteArchive(a.Build());
        ma::Rcf rcf;
        ASSERT_TRUE(ma::OpenRcf(rcf));
        std::vector<std::string> keys;
        for (const auto& [k, v] : rcf.entries) keys.push_back(k);
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(keys, c.bound);
    }
}

TEST_F(RcfTest, LittleEndianLengthOfAWholeRecordSet) {
    // A 256-byte name: its length field is 00 01 00 00 in the file.
    const std::string longName(255, 'n');
    RawArchive a;
    a.records = {{100, 1}, {101, 1}};
    a.names = {{256, longName + std::string(1, '\0')}, {2, std::string("z\0", 2)}};
    const std::vector<uint8_t> bytes = a.Build();
    WriteArchive(bytes);
    ma::Rcf rcf;
    ASSERT_TRUE(ma::OpenRcf(rcf));
    EXPECT_EQ(rcf.entries.at(longName), std::make_pair(100u, 1u));
    EXPECT_EQ(rcf.entries.at("z"), std::make_pair(101u, 1u));
}

TEST_F(RcfTest, DamagedArchivesAreRefused) {
    const std::vector<uint8_t> good = testsupport::BuildRcf({{"a.bin", Bytes("alpha")}, {"b.bin", Bytes("beta")}},
                                                            {16, true});
    const size_t dirOffset = ma::BE32(good.data() + 0x24);
    const size_t namesOffset = ma::BE32(good.data() + 0x2C);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        bool opens;
    };
    std::vector<Case> cases;
    cases.push_back({"intact", good, true});
    {
        auto b = good;
        b[22] = 'x';  // last letter of the magic
        cases.push_back({"23rd magic byte", b, false});
    }
    {
        auto b = good;
        for (size_t i = 23; i < 0x24; ++i) b[i] = uint8_t(0xA0 + i);
        cases.push_back({"bytes 23-35 are free", b, true});
    }
    cases.push_back({"short header", std::vector<uint8_t>(good.begin(), good.begin() + 59), false});
    cases.push_back({"empty file", {}, false});
    cases.push_back({"directory cut short", std::vector<uint8_t>(good.begin(), good.begin() + dirOffset + 20), false});
    cases.push_back({"name table cut short", std::vector<uint8_t>(good.begin(), good.begin() + namesOffset + 10), false});
    {
        auto b = good;
        PutBE(b, 0x38, 0xFFFFFFFFu);  // an entry count no file can hold
        cases.push_back({"huge entry count", b, false});
    }
    {
        auto b = good;
        PutBE(b, 0x30, 0xFFFFFFF0u);
        cases.push_back({"huge name table", b, false});
    }
    {
        auto b = good;
        PutBE(b, 0x38, 0);
        cases.push_back({"no entries", b, true});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteArchive(c.bytes);
        ma::Rcf rcf;
        EXPECT_EQ(ma::OpenRcf(rcf), c.opens);
        if (!c.opens) {
            EXPECT_TRUE(rcf.entries.empty());
            EXPECT_FALSE(rcf.file.IsOpen());
            bool ok = true;
            Read(rcf, "a.bin", &ok);
            EXPECT_FALSE(ok);
        }
    }
}

TEST_F(RcfTest, EntryBeyondTheEndOfTheFileFails) {
    RawArchive a;
    a.records = {{100, 10}, {390, 50}};
    a.names = {{4, std::string("in\0\0", 4)}, {4, std::string("out\0", 4)}};
    a.fileSize = 400;
    WriteArchive(a.Build());
    ma::Rcf rcf;
    ASSERT_TRUE(ma::OpenRcf(rcf));
    bool ok = false;
    std::string source;
    Read(rcf, "in", &ok);
    EXPECT_TRUE(ok);
    Read(rcf, "out", &ok, &source);
    EXPECT_FALSE(ok);
    EXPECT_EQ(source, "default.rcf");
}

TEST_F(RcfTest, ModLooseFilesOverrideEntries) {
    WriteArchive(testsupport::BuildRcf({{"package\\b4c85fe7.p3d", Bytes("archive")},
                                        {"package\\c1e387c7.p3d", Bytes("archive 2")},
                                        {"package\\cdd70a8c.p3d", Bytes("archive 3")}}));
    // Two mods; "a_first" has the higher priority (name order).
    for (const char* mod : {"a_first", "b_second"}) fs::create_directories(mods / mod / "rcf" / "default");
    ASSERT_TRUE(testsupport::WriteFileBytes(mods / "a_first" / "rcf" / "default" / "package\\b4c85fe7.p3d",
                                            Bytes("from mod a")));
    ASSERT_TRUE(testsupport::WriteFileBytes(mods / "b_second" / "rcf" / "default" / "package\\b4c85fe7.p3d",
                                            Bytes("from mod b")));
    ASSERT_TRUE(testsupport::WriteFileBytes(mods / "b_second" / "rcf" / "default" / "package\\c1e387c7.p3d", {}));
    // A folder of the entry's name is not a loose file.
    fs::create_directories(mods / "a_first" / "rcf" / "default" / "package\\cdd70a8c.p3d");
    Mount();
    ASSERT_EQ(vfs::Mods().size(), 2u);

    ma::Rcf rcf;
    ASSERT_TRUE(ma::OpenRcf(rcf));
    bool ok = false;
    std::string source;
    EXPECT_EQ(Read(rcf, "package\\b4c85fe7.p3d", &ok, &source), "from mod a");
    EXPECT_TRUE(ok);
    EXPECT_EQ(source, "mod a_first");
    // The empty loose file wins over the archive and fails the read.
    Read(rcf, "package\\c1e387c7.p3d", &ok, &source);
    EXPECT_FALSE(ok);
    EXPECT_EQ(source, "mod b_second");
    EXPECT_EQ(Read(rcf, "package\\cdd70a8c.p3d", &ok, &source), "archive 3");
    EXPECT_TRUE(ok);
    EXPECT_EQ(source, "default.rcf");

    // Without the archive only the mods' entries can be read.
    fs::remove(game / "default.rcf");
    ma::Rcf none;
    EXPECT_FALSE(ma::OpenRcf(none));
    EXPECT_EQ(Read(none, "package\\b4c85fe7.p3d", &ok), "from mod a");
    EXPECT_TRUE(ok);
    Read(none, "package\\cdd70a8c.p3d", &ok);
    EXPECT_FALSE(ok);
}

TEST_F(RcfTest, MissingArchiveWithoutModsReadsNothing) {
    ma::Rcf rcf;
    EXPECT_FALSE(ma::OpenRcf(rcf));
    for (const char* entry : {ma::PACKAGE_PERSISTENT, ma::PACKAGE_INGAME, ma::PACKAGE_FRONTEND}) {
        bool ok = true;
        Read(rcf, entry, &ok);
        EXPECT_FALSE(ok) << entry;
    }
}

TEST_F(RcfTest, ReadAtNeedsEveryByte) {
    WriteArchive(Bytes("0123456789"), "plain.bin");
    plat::File f;
    ASSERT_TRUE(f.Open(game / "plain.bin", false, plat::FileDisposition::OpenExisting, nullptr));
    char buf[10] = {};
    EXPECT_TRUE(ma::ReadAt(f, 6, buf, 4));
    EXPECT_EQ(std::string(buf, 4), "6789");
    EXPECT_FALSE(ma::ReadAt(f, 7, buf, 4));
    EXPECT_TRUE(ma::ReadAt(f, 10, buf, 0));
}

} // namespace
