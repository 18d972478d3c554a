// Sha256File on a 512 MiB file beside sha256sum and openssl on the same file.
// Prints the throughput ratios at the end (ours / theirs; above 1 is faster).
#include "launcher/sha256.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr size_t FILE_SIZE = size_t(512) << 20;

std::string g_path;
std::string g_expected;
std::map<std::string, double> g_best; // seconds per run

bool CreateFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::vector<uint64_t> chunk((size_t(1) << 20) / 8);
    uint64_t x = 0x9E3779B97F4A7C15ull;
    bool ok = true;
    for (size_t written = 0; ok && written < FILE_SIZE; written += chunk.size() * 8) {
        for (uint64_t& word : chunk) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            word = x;
        }
        ok = ::write(fd, chunk.data(), chunk.size() * 8) == ssize_t(chunk.size() * 8);
    }
    return ::close(fd) == 0 && ok;
}

// The first 64 hex digits a command prints about the file.
std::string RunTool(const std::string& command) {
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {};
    std::string output;
    char piece[256];
    size_t got;
    while ((got = std::fread(piece, 1, sizeof piece, pipe)) > 0) output.append(piece, got);
    if (pclose(pipe) != 0) return {};
    const size_t at = output.find_first_of("0123456789abcdef", output.find("= ") == std::string::npos
                                                                    ? 0
                                                                    : output.find("= ") + 2);
    return at == std::string::npos || output.size() < at + 64 ? std::string() : output.substr(at, 64);
}

void Record(benchmark::State& state, const std::string& name, double seconds) {
    state.SetIterationTime(seconds);
    auto it = g_best.find(name);
    if (it == g_best.end() || seconds < it->second) g_best[name] = seconds;
}

void OurFile(benchmark::State& state, Sha256::Engine engine, const char* name) {
    const Sha256::Engine saved = Sha256::ActiveEngine();
    if (!Sha256::UseEngine(engine)) {
        state.SkipWithError("this CPU has no SHA extensions");
        return;
    }
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const std::string digest = Sha256File(g_path);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (digest != g_expected) state.SkipWithError("digest differs from sha256sum");
        Record(state, name, seconds);
    }
    Sha256::UseEngine(saved);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(FILE_SIZE));
}

void Tool(benchmark::State& state, const std::string& command, const char* name) {
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const std::string digest = RunTool(command);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (digest != g_expected) state.SkipWithError(("unexpected output of: " + command).c_str());
        Record(state, name, seconds);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(FILE_SIZE));
}

void BM_Sha256File_ShaNi(benchmark::State& state) { OurFile(state, Sha256::Engine::ShaNi, "ours-shani"); }
void BM_Sha256File_Portable(benchmark::State& state) { OurFile(state, Sha256::Engine::Portable, "ours-portable"); }
void BM_sha256sum(benchmark::State& state) { Tool(state, "sha256sum '" + g_path + "'", "sha256sum"); }
void BM_openssl(benchmark::State& state) { Tool(state, "openssl dgst -sha256 '" + g_path + "'", "openssl"); }

struct RemoveFile {
    ~RemoveFile() {
        if (!g_path.empty()) ::unlink(g_path.c_str());
    }
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    char pattern[] = "/tmp/velkor-sha256-bench-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) {
        std::perror("mkstemp");
        return 1;
    }
    ::close(fd);
    g_path = pattern;
    RemoveFile remove;
    if (!CreateFile(g_path)) {
        std::fprintf(stderr, "cannot write %s\n", g_path.c_str());
        return 1;
    }
    g_expected = RunTool("sha256sum '" + g_path + "'"); // also brings the file into the page cache
    if (g_expected.size() != 64) {
        std::fprintf(stderr, "sha256sum is needed as the reference\n");
        return 1;
    }
    const bool haveOpenssl = std::system("command -v openssl >/dev/null 2>&1") == 0;

    const int runs = 5;
    if (Sha256::HasShaNi())
        benchmark::RegisterBenchmark("Sha256File/ShaNi", BM_Sha256File_ShaNi)->Iterations(runs)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Sha256File/Portable", BM_Sha256File_Portable)->Iterations(runs)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("sha256sum", BM_sha256sum)->Iterations(runs)->UseManualTime()->Unit(benchmark::kMillisecond);
    if (haveOpenssl)
        benchmark::RegisterBenchmark("openssl_dgst_sha256", BM_openssl)->Iterations(runs)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\nBest of %d runs over a %zu MiB file (MiB/s), and ours / theirs:\n", runs, FILE_SIZE >> 20);
    for (const auto& [name, seconds] : g_best) std::printf("  %-14s %8.0f MiB/s\n", name.c_str(), double(FILE_SIZE >> 20) / seconds);
    for (const char* ours : {"ours-shani", "ours-portable"}) {
        if (!g_best.count(ours)) continue;
        for (const char* theirs : {"sha256sum", "openssl"}) {
            if (!g_best.count(theirs)) continue;
            std::printf("  %s / %s: %.2fx\n", ours, theirs, g_best[theirs] / g_best[ours]);
        }
    }
    return 0;
}
