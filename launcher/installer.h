#pragma once
// The installer's whole state (one process-wide object, g_inst), its phases
// and the lifecycle calls of the program's spine.
//
// The main thread owns g_inst. Fields marked [M] are shared with worker
// threads and only touched under `mutex`; [A] fields are atomics; all other
// fields belong to the main thread.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "launcher/dump.h"
#include "launcher/gpu_info.h"
#include "launcher/installer_payload.h"
#include "launcher/prereq.h"

enum class Phase : int32_t {
    Setup = 0,   // options screen
    Running = 1, // extraction and/or setup script running
    Done = 2,
    Failed = 3,
};

struct Installer {
    Phase phase = Phase::Setup;
    std::wstring python;               // interpreter of the setup script
    std::string toolchain = "bundled"; // "bundled" or "msvc"; the reader writes it under `mutex`
    bool toolchainChosen = false;
    bool checking = false;             // a prerequisite check runs
    bool checked = false;              // prerequisite results are valid
    std::vector<Prereq> prereqs;       // [M]
    std::vector<Prereq> packages;      // [M]
    bool subtitles = true;
    bool remaster = false;
    bool extractAssets = false;
    bool copyGame = false;
    int selected = 0;
    bool mouseMode = false;
    bool autoStart = false;
    bool autoFinish = false;
    bool bundle = false;               // single-file mode: a payload was found
    std::filesystem::path installDir;
    bool desktopShortcut = true;
    bool startMenu = true;
    bool shortcutsDone = false;
    GpuInfo gpu;
    bool gpuKnown = false;             // the GPU/DLSS decision is final
    bool dlss = false;
    std::filesystem::path probeDir;
    uint64_t gameBytes = 0;
    bool extracting = false;           // extraction thread started and not yet joined
    ExtractProgress extract;           // [A]
    std::thread extractor;
    std::string extractError;          // [M]
    bool extractFinished = false;      // [M]
    std::string pendingArgs;           // UTF-8 script arguments waiting for the extraction
    bool setupPending = false;
    std::filesystem::path shots;
    std::filesystem::path pendingShot;
    std::string lastShot;
    int shotNumber = 0;
    int shotWait = 0;
    std::mutex mutex;
    std::vector<std::string> log;      // [M] at most 400 lines
    int step = 0;                      // [M]
    std::string stepDetail;            // [M]
    float progress = -1.0f;            // [M] negative: no progress bar
    std::string download;              // [M]
    std::string error;                 // [M]
    std::string hint;                  // [M]
    std::string finishedDir;           // [M]
    bool gameReady = false;            // [M]
    bool processDone = false;          // [M]
    int exitCode = 0;                  // [M] 128 + signal when killed by a signal
    pid_t process = 0;                 // [M] process (group) id of the setup script, 0 when none
    bool cancelled = false;            // [M]
    std::thread reader;
    FILE* logFile = nullptr;           // [M] open setup.log
    int finalCode = 0;                 // exit code of the program
    DumpProblem dump;                  // [M]
};

extern Installer g_inst;

// True when the installer speaks Portuguese (decided from the environment).
bool InstallerPt();
// Before the window: reads the payload and "--install-dir" / "--shots".
void PrepareInstaller(const std::vector<std::string>& commandLine);
// After the window and the fonts: language, dump verdict, GPU and prerequisite checks.
void InitInstaller();
// Once per frame on the main thread, before the screen is drawn.
void UpdateInstaller();
// Requests the end of the extraction and of the setup script; never waits.
void CancelInstall();
// Window close or quit request. Returns after asking the frame loop to end
// through `quit`.
void InstallerExit(bool& quit);
// After the frame loop: stops and joins the workers.
void ShutdownInstaller();
// Appends a visible log line (at most 400 kept); the caller holds g_inst.mutex.
void AddLogLine(const std::string& line);

// Unattended mode (--autostart / --autofinish), evaluated by the frame right
// after UpdateInstaller. `messageOpen`: a message dialog is shown;
// `shotPending`: a screenshot series is still being taken.
struct UnattendedResult {
    bool closeMessage = false; // close the open message dialog
    bool quit = false;         // end the frame loop
};
UnattendedResult UpdateUnattended(bool messageOpen, bool shotPending);

// The installer's language applied to a text pair.
const char* InstallerText(const char* en, const char* pt);
