#pragma once
// The DLSS availability probe, installer side. The GPU check decides whether
// DLSS is offered: only with an NVIDIA GPU (detected or forced) and a "dlss"
// component in the payload. Then the DLSS module is extracted into a temporary
// folder and this program runs itself as a child
// ("--probe-dlss <module folder> <result file>", see launcher/gpu_probe.h)
// with a time limit, and reads the answer from the result file.
//
// State of the probe, shared between the probe thread and the main thread.
// `state` goes 0 (not started) -> 1 (running) -> 2 (finished); the store of 2
// publishes the other fields.
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

struct DlssProbe {
    std::atomic<int> state{0};
    bool available = false;
    std::string gpu;
    std::string reason;
    std::thread thread;
};

extern DlssProbe g_dlssProbe;

// The module file and its folder inside the payload.
inline constexpr const char* DLSS_MODULE = "libVelkorDlss.so";
inline constexpr const char* DLSS_MODULE_DIR = "thirdparty/dlss/bin";
// The probe child is polled this many times, DLSS_PROBE_POLL_MS apart (20 s),
// and killed when it is still running after the last poll.
inline constexpr int DLSS_PROBE_POLLS = 2000;
inline constexpr int DLSS_PROBE_POLL_MS = 10;

// Main thread, single-file mode: detects the GPU into g_inst.gpu and logs it.
// Without an NVIDIA GPU or a "dlss" payload component the decision (no DLSS)
// is final at once; otherwise a detached thread extracts the payload's DLSS
// files into g_inst.probeDir and starts the probe.
void StartGpuCheck();
// Starts the probe thread for the module in `folder`; only the first call of
// the process does anything.
void StartDlssProbe(const std::filesystem::path& folder);
// Main thread, every frame: once the probe has finished, takes its answer into
// g_inst (dlss, gpuKnown, the driver's GPU name) and removes the probe folder.
void UpdateGpuCheck();
// Joins the probe thread when it is joinable.
void JoinDlssProbe();
// At shutdown: joins the probe thread when the probe has finished. Otherwise
// the check is abandoned without waiting: a running child is killed, a running
// extraction is cancelled, and the thread is detached; it publishes nothing
// afterwards.
void ShutdownDlssProbe();

// Test seam: the program started as the probe child (empty: this program) and
// the number of polls before it is killed.
struct DlssProbeSeam {
    std::filesystem::path program;
    int polls = DLSS_PROBE_POLLS;
};
void SetDlssProbeSeamForTests(const DlssProbeSeam& seam);
// Returns the probe to "not started" after joining its thread; tests only.
void ResetDlssProbeForTests();
