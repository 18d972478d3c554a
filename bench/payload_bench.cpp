// Payload extraction against `cp -a` of the same tree on the same disk.
//
// A payload of VELKOR_BENCH_FILES files (default 2,000) holding
// VELKOR_BENCH_BYTES bytes (default 1 GiB) is written once into a temporary
// folder below ${VELKOR_TEST_TMP:-/tmp}. Then:
//   CpA               cp -a of the payload folder into a fresh folder
//   ExtractFirst      ExtractPayload into a fresh folder
//   ExtractUnchanged  ExtractPayload over a finished extraction (nothing to copy)
// Written data is synced and the destination removed outside the timed part.
// At the end the ratios are printed:
//   first copy vs cp -a   = time(CpA) / time(ExtractFirst)        (target >= 1.0)
//   unchanged re-run      = time(ExtractFirst) / time(ExtractUnchanged) (target >= 20)
// Everything written is removed before the program ends.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "launcher/installer_payload.h"
#include "tests/support/payload_fixture.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::unique_ptr<payload_fixture::TempDir> g_folder;
Payload g_bench;

fs::path Source() {
    return g_folder->path() / "payload";
}

fs::path Destination() {
    return g_folder->path() / "dest";
}

uint64_t EnvNumber(const char* name, uint64_t fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::strtoull(value, nullptr, 10) : fallback;
}

void RemoveDestination() {
    std::error_code ec;
    fs::remove_all(Destination(), ec);
    sync();
}

bool RunCpA() {
    const std::string from = Source().string(), to = Destination().string();
    const char* argv[] = {"cp", "-a", from.c_str(), to.c_str(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "cp", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return false;
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string Extract() {
    ExtractProgress progress;
    return ExtractPayload(g_bench, Destination(), {}, progress);
}

void CpA(benchmark::State& state) {
    RemoveDestination();
    for (auto _ : state) {
        if (!RunCpA()) state.SkipWithError("cp -a failed");
        state.PauseTiming();
        RemoveDestination();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_bench.Bytes({})));
}

void ExtractFirst(benchmark::State& state) {
    RemoveDestination();
    for (auto _ : state) {
        const std::string error = Extract();
        if (!error.empty()) state.SkipWithError(error.c_str());
        state.PauseTiming();
        RemoveDestination();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * g_bench.Bytes({})));
}

void ExtractUnchanged(benchmark::State& state) {
    RemoveDestination();
    std::string error = Extract();
    sync();
    for (auto _ : state) {
        if (!error.empty()) state.SkipWithError(error.c_str());
        error = Extract();
    }
    RemoveDestination();
}

BENCHMARK(CpA)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ExtractFirst)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ExtractUnchanged)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();

// Console output plus the mean real time of each benchmark, for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!run.error_occurred) seconds[run.benchmark_name()] = run.GetAdjustedRealTime() / 1000.0;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const uint64_t bytes = EnvNumber("VELKOR_BENCH_BYTES", 1ull << 30);
    const size_t files = static_cast<size_t>(EnvNumber("VELKOR_BENCH_FILES", 2000));
    g_folder = std::make_unique<payload_fixture::TempDir>("payload-bench");
    if (g_folder->path().empty()) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    std::printf("writing a payload of %zu files, %.1f MiB, in %s\n", files, bytes / 1048576.0,
                g_folder->path().c_str());
    const std::string error = payload_fixture::WriteBulkPayload(Source(), files, bytes, "bench");
    if (!error.empty() || !ReadPayloadIndex(Source(), g_bench) || !g_bench.present) {
        std::fprintf(stderr, "cannot write the payload: %s\n", error.c_str());
        g_folder.reset();
        return 1;
    }
    sync();

    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto time = [&](const char* name) {
        for (const auto& [key, value] : reporter.seconds) {
            if (key.rfind(name, 0) == 0) return value;
        }
        return 0.0;
    };
    const double cp = time("CpA/"), first = time("ExtractFirst/"), unchanged = time("ExtractUnchanged/");
    if (cp > 0 && first > 0 && unchanged > 0) {
        std::printf("first copy vs cp -a: %.2fx (cp -a %.3f s, extraction %.3f s; target >= 1.0x)\n", cp / first, cp,
                    first);
        std::printf("unchanged re-run vs first copy: %.1fx faster (%.4f s; target >= 20x)\n", first / unchanged,
                    unchanged);
    }
    benchmark::Shutdown();
    g_folder.reset();
    return 0;
}
