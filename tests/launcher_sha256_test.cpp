// SHA-256 against the FIPS 180-4 examples and sha256sum, through both the
// SHA-extension and the portable block compressors.
#include "launcher/sha256.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool CpuHasShaNi() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("flags", 0) == 0) return (" " + line + " ").find(" sha_ni ") != std::string::npos;
    }
    return false;
}

std::string Digest(const std::string& data) {
    Sha256 state;
    state.Update(data.data(), data.size());
    return state.Hex();
}

std::string Sha256Sum(const fs::path& path) {
    const std::string command = "sha256sum '" + path.string() + "' 2>/dev/null";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {};
    char text[65] = {};
    const size_t got = std::fread(text, 1, 64, pipe);
    pclose(pipe);
    return got == 64 ? std::string(text, 64) : std::string();
}

std::string Pattern(size_t size, uint32_t seed) {
    std::string data(size, '\0');
    uint32_t x = seed;
    for (char& c : data) {
        x = x * 1664525u + 1013904223u;
        c = char(x >> 24);
    }
    return data;
}

class Sha256Engines : public ::testing::TestWithParam<Sha256::Engine> {
protected:
    void SetUp() override {
        saved = Sha256::ActiveEngine();
        if (GetParam() == Sha256::Engine::ShaNi && !CpuHasShaNi()) GTEST_SKIP() << "this CPU has no SHA extensions";
        ASSERT_TRUE(Sha256::UseEngine(GetParam()));
        ASSERT_EQ(Sha256::ActiveEngine(), GetParam());
    }
    void TearDown() override { Sha256::UseEngine(saved); }
    Sha256::Engine saved = Sha256::Engine::Portable;
};

} // namespace

TEST(Sha256Engine, DetectionMatchesTheCpu) {
    EXPECT_EQ(Sha256::HasShaNi(), CpuHasShaNi());
    // The hardware compressor is chosen by default when present, and cannot be
    // forced where it is absent.
    EXPECT_EQ(Sha256::ActiveEngine(), CpuHasShaNi() ? Sha256::Engine::ShaNi : Sha256::Engine::Portable);
    EXPECT_EQ(Sha256::UseEngine(Sha256::Engine::ShaNi), CpuHasShaNi());
    EXPECT_TRUE(Sha256::UseEngine(Sha256::Engine::Portable));
    EXPECT_EQ(Sha256::ActiveEngine(), Sha256::Engine::Portable);
    Sha256::UseEngine(CpuHasShaNi() ? Sha256::Engine::ShaNi : Sha256::Engine::Portable);
}

TEST_P(Sha256Engines, StandardExamples) {
    struct Case {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
         "mnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) EXPECT_EQ(Digest(c.message), c.digest) << c.message.size() << " bytes";
}

TEST_P(Sha256Engines, PiecesGiveTheSameDigestAsTheWhole) {
    const std::string data = Pattern(300000, 7);
    const std::string whole = Digest(data);
    for (size_t step : {size_t(1), size_t(55), size_t(63), size_t(64), size_t(65), size_t(1000), size_t(4099)}) {
        Sha256 state;
        size_t offset = 0;
        for (size_t n = step; offset < data.size(); n = n % 97 + step) {
            const size_t take = std::min(n, data.size() - offset);
            state.Update(data.data() + offset, take);
            offset += take;
        }
        state.Update(data.data(), 0);
        EXPECT_EQ(state.total, data.size());
        EXPECT_EQ(state.Hex(), whole) << "pieces of about " << step;
    }
}

TEST_P(Sha256Engines, FilesMatchSha256sum) {
    if (std::system("command -v sha256sum >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sha256sum";
    const char* base = std::getenv("VELKOR_TEST_TMP");
    fs::path root = base && *base ? base : "/tmp";
    std::error_code ec;
    fs::create_directories(root, ec);
    std::string pattern = (root / "sha256-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;

    // The padding boundaries, and files larger than the 1 MiB read buffer.
    for (size_t size : {size_t(0), size_t(1), size_t(55), size_t(56), size_t(63), size_t(64), size_t(65),
                        size_t(1) << 20, (size_t(1) << 20) + 1, (size_t(3) << 20) + 4097}) {
        const fs::path path = dir / ("file" + std::to_string(size));
        const std::string data = Pattern(size, uint32_t(size));
        std::ofstream(path, std::ios::binary) << data;
        const std::string expected = Sha256Sum(path);
        ASSERT_EQ(expected.size(), 64u);
        EXPECT_EQ(Sha256File(path), expected) << size << " bytes";
        EXPECT_EQ(Digest(data), expected) << size << " bytes";
    }

    // The synthetic demo dump's default.xex.
    std::string xex(65536, '\0');
    xex.replace(0, 4, "XEX2");
    for (uint64_t i = 4; i < xex.size(); ++i) xex[size_t(i)] = char(((i * 2654435761u) & 0xFFFFFFFFu) >> 24);
    std::ofstream(dir / "default.xex", std::ios::binary) << xex;
    EXPECT_EQ(Sha256File(dir / "default.xex"), VELKOR_SYNTHETIC_XEX_SHA256);

    // Nothing to read: an empty answer.
    EXPECT_EQ(Sha256File(dir / "missing"), "");
    EXPECT_EQ(Sha256File(dir), "");
    if (geteuid() != 0) {
        fs::permissions(dir / "file1", fs::perms::none);
        EXPECT_EQ(Sha256File(dir / "file1"), "");
    }
    fs::remove_all(dir, ec);
}

INSTANTIATE_TEST_SUITE_P(, Sha256Engines, ::testing::Values(Sha256::Engine::ShaNi, Sha256::Engine::Portable),
                         [](const ::testing::TestParamInfo<Sha256::Engine>& info) {
                             return info.param == Sha256::Engine::ShaNi ? std::string("ShaNi")
                                                                        : std::string("Portable");
                         });
