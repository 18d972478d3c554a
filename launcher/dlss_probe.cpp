#include "launcher/dlss_probe.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <system_error>
#include <utility>
#include <vector>

#include "launcher/gpu_detect.h"
#include "launcher/installer.h"
#include "launcher/installer_payload.h"
#include "launcher/setup_script.h"
#include "runtime/log.h"
#include "runtime/platform/platform.h"
#include "runtime/settings/gpu_vendor.h"

namespace fs = std::filesystem;

DlssProbe g_dlssProbe;

namespace {

// Guards the hand-over between the GPU-check thread, the probe thread and the
// shutdown: the probe thread object is stored and the answer published under
// it, the child is reaped under it, and once `g_abandoned` is set (shutdown
// while the check runs) the worker threads touch no shared state any more.
// Nothing else is locked while it is held, except the log's own lock.
std::mutex g_gate;
bool g_abandoned = false;
pid_t g_child = 0; // the running probe child, 0 once reaped
DlssProbeSeam g_seam;

// Worker threads (GPU check, probe) that have not ended yet; a test waits for
// them before it starts the next check.
std::atomic<int> g_workers{0};

// Counts a worker thread; declared first in the thread's function so that it
// ends after every other use of shared state.
struct WorkerScope {
    ~WorkerScope() { g_workers.fetch_sub(1); }
};

// The GPU check's own extraction progress: cancelling an installation does not
// stop it, a shutdown does.
ExtractProgress g_probeExtract;

fs::path TempDir() {
    std::error_code ec;
    fs::path dir = fs::temp_directory_path(ec);
    return ec ? fs::path("/tmp") : dir;
}

// One line of the result file: at most 511 bytes, cut at the first carriage
// return or line feed (or a NUL byte: the texts are C strings); the rest of a
// longer line is skipped. False at the end of the file.
bool ReadResultLine(FILE* f, std::string& line) {
    line.clear();
    int c = std::fgetc(f);
    if (c == EOF) return false;
    bool cut = false;
    for (; c != EOF && c != '\n'; c = std::fgetc(f)) {
        if (c == '\r' || c == '\0') cut = true;
        if (!cut && line.size() < 511) line.push_back(static_cast<char>(c));
    }
    return true;
}

struct ProbeAnswer {
    bool available = false;
    std::string gpu;
    std::string reason = "the check did not run";
};

// Reads the child's answer; `code` is its exit code.
void ReadResult(const fs::path& result, int code, ProbeAnswer& answer) {
    FILE* f = std::fopen(result.c_str(), "rb");
    if (!f) return;
    std::string first, gpu, reason;
    bool haveFirst = ReadResultLine(f, first);
    bool haveGpu = haveFirst && ReadResultLine(f, gpu);
    bool haveReason = haveGpu && ReadResultLine(f, reason);
    std::fclose(f);
    if (haveGpu) answer.gpu = gpu;
    if (haveReason) answer.reason = reason;
    answer.available = code == 0 && !first.empty() && first[0] == '1';
}

int ExitCode(int status) {
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return -1;
}

void RemoveQuietly(const fs::path& path, bool recursive) {
    std::error_code ec;
    if (recursive) fs::remove_all(path, ec);
    else fs::remove(path, ec);
}

// Waits, without holding the lock, until the child has ended, then reaps it
// under the lock, so that the shutdown never signals a process id that was
// already given back. Returns the wait status, -1 when the child could not be
// waited for.
int WaitForChild(pid_t pid) {
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    std::lock_guard<std::mutex> lock(g_gate);
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    g_child = 0;
    return r == pid ? status : -1;
}

// Polls the child once under the lock. True when it has ended (its wait status
// in `status`, -1 when it could not be waited for) or the check was abandoned.
bool PollChild(pid_t pid, int& status, bool& abandoned) {
    std::lock_guard<std::mutex> lock(g_gate);
    abandoned = g_abandoned;
    if (abandoned) return true;
    pid_t r;
    do {
        r = waitpid(pid, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return false;
    if (r < 0) status = -1;
    g_child = 0;
    return true;
}

// The probe thread: runs the child, waits for it at most `polls` polls and
// publishes the answer. `probeDir` (may be empty) is removed when the check is
// abandoned.
void RunProbe(fs::path folder, fs::path program, int polls, fs::path probeDir) {
    WorkerScope worker;
    const fs::path result =
        TempDir() / ("VelkorRecomp_dlss_probe_" + std::to_string(plat::CurrentProcessId()) + ".txt");
    ProbeAnswer answer;
    // A file of the same name left by an earlier installer (same process id)
    // must never be taken for this child's answer.
    RemoveQuietly(result, false);

    pid_t pid = 0;
    if (!program.empty()) {
        std::lock_guard<std::mutex> lock(g_gate);
        if (!g_abandoned) {
            pid = Spawn(program, {"--probe-dlss", folder.string(), result.string()}, folder, -1, false);
            g_child = pid;
        }
    }
    if (pid > 0) {
        bool ended = false;
        bool abandoned = false;
        int status = 0;
        for (int poll = 0; poll < polls; ++poll) {
            if (PollChild(pid, status, abandoned)) {
                ended = !abandoned;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(DLSS_PROBE_POLL_MS));
        }
        if (ended) {
            const int code = status == -1 ? -1 : ExitCode(status);
            answer.reason = "the check crashed (code " + std::to_string(code) + ")";
            ReadResult(result, code, answer);
        } else {
            if (!abandoned) {
                std::lock_guard<std::mutex> lock(g_gate);
                if (g_child != 0) kill(pid, SIGKILL);
            }
            // An abandoning shutdown has killed the child already.
            WaitForChild(pid);
            answer.reason = "the check did not finish (20 s)";
        }
    }
    RemoveQuietly(result, false);

    std::lock_guard<std::mutex> lock(g_gate);
    if (g_abandoned) {
        // The program is ending and no longer waits for the answer; leave no
        // extracted module behind.
        if (!probeDir.empty()) RemoveQuietly(probeDir, true);
        return;
    }
    g_dlssProbe.available = answer.available;
    g_dlssProbe.gpu = std::move(answer.gpu);
    g_dlssProbe.reason = std::move(answer.reason);
    Log("[gpu] DLSS check (%s): %s - %s", folder.c_str(), g_dlssProbe.available ? "available" : "not available",
        g_dlssProbe.reason.c_str());
    g_dlssProbe.state.store(2, std::memory_order_release);
}

// Starts the probe thread once; the caller holds g_gate.
void StartProbeThread(const fs::path& folder, const fs::path& probeDir) {
    if (g_abandoned) return;
    int expected = 0;
    if (!g_dlssProbe.state.compare_exchange_strong(expected, 1)) return;
    fs::path program = g_seam.program.empty() ? plat::ExecutablePath() : g_seam.program;
    // Stored before the lock is released: the probe thread publishes its answer
    // under the same lock, so whoever sees state 2 finds the thread here.
    g_workers.fetch_add(1);
    try {
        g_dlssProbe.thread = std::thread(RunProbe, folder, std::move(program), g_seam.polls, probeDir);
    } catch (const std::system_error& e) {
        g_workers.fetch_sub(1);
        Log("[gpu] DLSS check (%s): not available - the check did not run (%s)", folder.c_str(), e.what());
        g_dlssProbe.reason = "the check did not run";
        g_dlssProbe.state.store(2, std::memory_order_release);
    }
}

// The GPU-check thread: extracts the DLSS files, then starts the probe.
void RunGpuCheck(Payload payload, fs::path probeDir) {
    WorkerScope worker;
    const std::string error = ExtractPayload(payload, probeDir, ComponentSet{"base", "modding"}, g_probeExtract);
    {
        std::lock_guard<std::mutex> lock(g_gate);
        if (g_abandoned) {
            RemoveQuietly(probeDir, true);
            return;
        }
        if (!error.empty()) {
            Log("[setup] DLSS check: %s", error.c_str());
            g_dlssProbe.reason = error;
            g_dlssProbe.state.store(2, std::memory_order_release);
            return;
        }
        StartProbeThread(probeDir / DLSS_MODULE_DIR, probeDir);
    }
}

} // namespace

void StartGpuCheck() {
    g_inst.gpu = DetectGpu();
    Log("%s", GpuReportLine(g_inst.gpu).c_str());

    bool hasDlss = false;
    for (const PayloadFile& file : g_payload.files) {
        if (file.component == "dlss") {
            hasDlss = true;
            break;
        }
    }
    if (!hasDlss || g_inst.gpu.vendor != settings::VENDOR_NVIDIA) {
        g_inst.gpuKnown = true;
        g_inst.dlss = false;
        return;
    }

    g_inst.probeDir = TempDir() / ("VelkorSetup_dlss_" + std::to_string(plat::CurrentProcessId()));
    // The thread gets its own copy of the entries it extracts, so that it never
    // reads the payload of a program that is already ending.
    Payload dlssFiles;
    dlssFiles.present = true;
    dlssFiles.tag = g_payload.tag;
    dlssFiles.root = g_payload.root;
    for (const PayloadFile& file : g_payload.files) {
        if (file.component != "base" && file.component != "modding") dlssFiles.files.push_back(file);
    }
    g_workers.fetch_add(1);
    try {
        std::thread(RunGpuCheck, std::move(dlssFiles), g_inst.probeDir).detach();
    } catch (const std::system_error& e) {
        g_workers.fetch_sub(1);
        Log("[setup] DLSS check: %s", e.what());
        g_inst.gpuKnown = true;
        g_inst.dlss = false;
    }
}

void StartDlssProbe(const fs::path& folder) {
    std::lock_guard<std::mutex> lock(g_gate);
    StartProbeThread(folder, fs::path());
}

void UpdateGpuCheck() {
    if (g_inst.gpuKnown || g_dlssProbe.state.load(std::memory_order_acquire) != 2) return;
    JoinDlssProbe();
    g_inst.dlss = g_dlssProbe.available;
    g_inst.gpuKnown = true;
    if (!g_dlssProbe.gpu.empty()) g_inst.gpu.name = g_dlssProbe.gpu;
    if (!g_inst.probeDir.empty()) RemoveQuietly(g_inst.probeDir, true);
}

void JoinDlssProbe() {
    if (g_dlssProbe.thread.joinable()) g_dlssProbe.thread.join();
}

void ShutdownDlssProbe() {
    {
        std::lock_guard<std::mutex> lock(g_gate);
        if (g_dlssProbe.state.load(std::memory_order_acquire) != 2) {
            g_abandoned = true;
            g_probeExtract.cancel.store(true);
            if (g_child != 0) kill(g_child, SIGKILL);
            if (g_dlssProbe.thread.joinable()) g_dlssProbe.thread.detach();
            return;
        }
    }
    JoinDlssProbe();
}

void SetDlssProbeSeamForTests(const DlssProbeSeam& seam) {
    std::lock_guard<std::mutex> lock(g_gate);
    g_seam = seam;
}

void ResetDlssProbeForTests() {
    while (g_workers.load() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    JoinDlssProbe();
    std::lock_guard<std::mutex> lock(g_gate);
    g_abandoned = false;
    g_child = 0;
    g_probeExtract.done.store(0);
    g_probeExtract.total.store(0);
    g_probeExtract.cancel.store(false);
    g_dlssProbe.available = false;
    g_dlssProbe.gpu.clear();
    g_dlssProbe.reason.clear();
    g_dlssProbe.state.store(0);
}
