// The screenshot series of the installer screen.
#include "launcher/screen_shots.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "launcher/installer.h"
#include "launcher/screen_progress.h"

namespace {

// File-name stem of each phase, by phase number.
const char* const PHASE_NAMES[] = {"setup", "step", "done", "failed"};

int PhaseNumber() { return static_cast<int>(g_inst.phase); }

} // namespace

std::string ShotKey() {
    std::string key = std::to_string(PhaseNumber()) + "_";
    key += std::to_string(g_inst.phase == Phase::Running ? CurrentShownStep() : 0);
    if (g_inst.phase == Phase::Setup) key += g_inst.gpuKnown ? "k" : "u";
    return key;
}

void TakeShots() {
    if (g_inst.shots.empty()) return;
    const std::string key = ShotKey();
    if (key != g_inst.lastShot) {
        g_inst.lastShot = key;
        g_inst.shotWait = SHOT_DELAY_FRAMES;
        return;
    }
    if (g_inst.shotWait < 0) return;
    g_inst.shotWait -= 1;
    if (g_inst.shotWait > 0) return;
    g_inst.shotWait = -1;

    const int phase = PhaseNumber();
    std::string name = phase >= 0 && phase < 4 ? PHASE_NAMES[phase] : "state";
    if (g_inst.phase == Phase::Running) name += "_" + std::to_string(CurrentShownStep());
    g_inst.shotNumber += 1;
    char file[96];
    std::snprintf(file, sizeof file, "%02d_%s.png", g_inst.shotNumber, name.c_str());
    std::error_code ec;
    std::filesystem::create_directories(g_inst.shots, ec);
    g_inst.pendingShot = g_inst.shots / file;
}

bool InstallerShotsDone() {
    if (g_inst.shots.empty()) return true;
    if (!g_inst.pendingShot.empty() || g_inst.shotWait >= 0) return false;
    return g_inst.lastShot == ShotKey();
}
