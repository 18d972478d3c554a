// The log file VelkorSetup.log. The log is opened once per process next to the
// running program, so each case runs a copy of this test program, placed in a
// folder of the case's choosing, as a log writer (see LOG_CHILD below).
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "runtime/log.h"

namespace fs = std::filesystem;

namespace {

using testsupport::TempDir;

constexpr int THREADS = 8;
constexpr int LINES_PER_THREAD = 400;

// With VELKOR_LOG_CHILD set this program only writes log lines and ends,
// before any test runs: "lines" writes two lines naming VELKOR_LOG_TEXT,
// "threads" writes from several threads at once.
[[maybe_unused]] const bool LOG_CHILD = [] {
    const char* mode = getenv("VELKOR_LOG_CHILD");
    if (!mode) return false;
    if (std::strcmp(mode, "lines") == 0) {
        const char* text = getenv("VELKOR_LOG_TEXT");
        Log("[launcher] run %s", text ? text : "");
        Log("[launcher] a line without conversions");
    } else if (std::strcmp(mode, "threads") == 0) {
        const std::string padding(300, '.');
        std::vector<std::thread> threads;
        for (int t = 0; t < THREADS; ++t) {
            threads.emplace_back([t, &padding] {
                for (int i = 0; i < LINES_PER_THREAD; ++i) Log("[launcher] thread %d line %d %s", t, i, padding.c_str());
            });
        }
        for (auto& th : threads) th.join();
    }
    std::fflush(nullptr);
    _exit(0);
}();

std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class LogTest : public ::testing::Test {
protected:
    TempDir t;
    fs::path programDir = t.path() / "program";
    fs::path tmpDir = t.path() / "tmp";

    void SetUp() override {
        fs::create_directories(programDir);
        fs::create_directories(tmpDir);
        fs::copy_file(fs::read_symlink("/proc/self/exe"), programDir / "writer");
    }

    // Runs the copied writer; returns its exit status.
    int Write(const char* mode, const std::string& text = "") {
        const std::string command = "env VELKOR_LOG_CHILD=" + std::string(mode) + " VELKOR_LOG_TEXT='" + text +
                                    "' TMPDIR='" + tmpDir.string() + "' '" + (programDir / "writer").string() + "'";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::string Lines(const std::string& text) {
        return "[launcher] run " + text + "\n[launcher] a line without conversions\n";
    }
};

TEST_F(LogTest, NextToTheProgramAndEmptiedByEachRun) {
    ASSERT_EQ(Write("lines", "first"), 0);
    EXPECT_EQ(Read(programDir / "VelkorSetup.log"), Lines("first"));
    ASSERT_EQ(Write("lines", "second"), 0);
    EXPECT_EQ(Read(programDir / "VelkorSetup.log"), Lines("second"));
    EXPECT_FALSE(fs::exists(tmpDir / "VelkorSetup.log"));
}

TEST_F(LogTest, ProgramFolderNotWritableFallsBackToTheTemporaryFolder) {
    // A folder in the way of the file works for every user, root included.
    fs::create_directories(programDir / "VelkorSetup.log");
    ASSERT_EQ(Write("lines", "fallback"), 0);
    EXPECT_EQ(Read(tmpDir / "VelkorSetup.log"), Lines("fallback"));
}

TEST_F(LogTest, ProgramFolderWithoutWritePermission) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into any folder; the case above covers the fallback";
    fs::permissions(programDir, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(Write("lines", "fallback"), 0);
    fs::permissions(programDir, fs::perms::owner_all);
    EXPECT_EQ(Read(tmpDir / "VelkorSetup.log"), Lines("fallback"));
}

TEST_F(LogTest, NowhereToWriteDropsTheLinesSilently) {
    fs::create_directories(programDir / "VelkorSetup.log");
    fs::create_directories(tmpDir / "VelkorSetup.log");
    EXPECT_EQ(Write("lines", "lost"), 0);
}

TEST_F(LogTest, APipeInTheWayNeitherBlocksNorReceivesTheLog) {
    ASSERT_EQ(mkfifo((programDir / "VelkorSetup.log").c_str(), 0644), 0);
    ASSERT_EQ(Write("lines", "fifo"), 0);
    EXPECT_EQ(Read(tmpDir / "VelkorSetup.log"), Lines("fifo"));
}

TEST_F(LogTest, ALinkInTheTemporaryFolderIsNotFollowed) {
    fs::create_directories(programDir / "VelkorSetup.log");
    std::ofstream(t.path() / "victim") << "keep";
    fs::create_symlink(t.path() / "victim", tmpDir / "VelkorSetup.log");
    EXPECT_EQ(Write("lines", "link"), 0);
    EXPECT_EQ(Read(t.path() / "victim"), "keep");
}

TEST_F(LogTest, ConcurrentWritersProduceCompleteLines) {
    ASSERT_EQ(Write("threads"), 0);
    std::ifstream in(programDir / "VelkorSetup.log", std::ios::binary);
    const std::string padding(300, '.');
    std::vector<int> next(THREADS, 0);
    int count = 0;
    for (std::string line; std::getline(in, line); ++count) {
        int thread = -1, number = -1;
        char rest[400] = {};
        ASSERT_EQ(std::sscanf(line.c_str(), "[launcher] thread %d line %d %399s", &thread, &number, rest), 3) << line;
        ASSERT_TRUE(thread >= 0 && thread < THREADS) << line;
        EXPECT_EQ(number, next[thread]++) << "each thread's lines stay in order";
        EXPECT_EQ(rest, padding);
        EXPECT_EQ(line, "[launcher] thread " + std::to_string(thread) + " line " + std::to_string(number) + " " + padding);
    }
    EXPECT_EQ(count, THREADS * LINES_PER_THREAD);
    const std::string all = Read(programDir / "VelkorSetup.log");
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back(), '\n');
}

} // namespace
