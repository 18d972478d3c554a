// The progress view: steps, marks, star bars, status line, hint and log tail.
#include "launcher/screen_progress.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>

#include "imgui.h"
#include "launcher/installer.h"
#include "launcher/screen_draw.h"
#include "launcher/screen_rows.h"

const InstallStep INSTALL_STEPS[9] = {
    {{"PREREQUISITES", "PRÉ-REQUISITOS"}},
    {{"GAME", "JOGO"}},
    {{"XENONRECOMP", "XENONRECOMP"}},
    {{"LIBRARIES", "BIBLIOTECAS"}},
    {{"RECOMPILING THE GAME CODE", "RECOMPILANDO O CÓDIGO DO JOGO"}},
    {{"BUILDING", "COMPILANDO"}},
    {{"EXTRAS", "EXTRAS"}},
    {{"PLAY FOLDER", "PASTA DO JOGO"}},
    {{"ASSETS FOR MODDING", "ASSETS PARA MODDING"}},
};

const InstallStep EXTRACT_STEP = {{"EXTRACTING FILES", "EXTRAINDO ARQUIVOS"}};

namespace {

const ImU32 SEPARATOR = IM_COL32(236, 222, 190, 70);
const ImU32 STATUS = IM_COL32(255, 236, 160, 255);
const ImU32 STATUS_FAILED = IM_COL32(255, 140, 100, 255);
const ImU32 LOG_LINE = IM_COL32(238, 226, 196, 210);

constexpr float CENTRE = 859.0f;
// Widest step name, right-aligned on x 840: long names (the Portuguese
// "RECOMPILANDO O CÓDIGO DO JOGO") shrink to stay clear of the frame's left
// border, whose ornament reaches about x 485.
constexpr float STEP_NAME_WIDTH = 340.0f;
constexpr float LOG_BOTTOM = 612.0f;
constexpr float LOG_PITCH = 17.0f;

} // namespace

int ShownStepCount() { return g_inst.bundle ? 10 : 9; }

const InstallStep& ShownStep(int i) {
    const int count = ShownStepCount();
    i = std::clamp(i, 0, count - 1);
    if (g_inst.bundle) return i == 0 ? EXTRACT_STEP : INSTALL_STEPS[i - 1];
    return INSTALL_STEPS[i];
}

namespace {

// The current shown step for the script's step `step`.
int ShownFromScriptStep(int step) {
    if (g_inst.bundle) return g_inst.extracting ? 1 : std::max(step, 1) + 1;
    return step;
}

} // namespace

int CurrentShownStep() {
    int step = 0;
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        step = g_inst.step;
    }
    return ShownFromScriptStep(step);
}

void DrawProgress() {
    std::lock_guard<std::mutex> lock(g_inst.mutex);
    int current = ShownFromScriptStep(g_inst.step);
    // A copy that failed or was cancelled is marked on the extraction row
    // itself, not on the script's first step that never began.
    if (g_inst.bundle && g_inst.phase == Phase::Failed && !g_inst.extracting && g_inst.extractFinished &&
        !g_inst.extractError.empty() && g_inst.step == 0) {
        current = 1;
    }
    const int count = ShownStepCount();
    const float pitch = g_inst.bundle ? 31.0f : 34.0f;
    const Phase phase = g_inst.phase;
    const uint64_t extractDone = g_inst.extract.done.load();
    const uint64_t extractTotal = g_inst.extract.total.load();

    float y = 106.0f;
    for (int n = 1; n <= count; ++n) {
        const bool done = n < current || phase == Phase::Done;
        const bool now = n == current;
        const Style& style = done ? SELECTED : now ? (phase == Phase::Failed ? WARNING : TITLE) : INFO;
        Draw(0, T(ShownStep(n - 1).name), 840.0f, y, 26.0f, style, 1.0f, STEP_NAME_WIDTH);

        float progress = g_inst.progress;
        if (n == 1 && g_inst.bundle && g_inst.extracting) {
            progress = extractTotal == 0 ? 0.0f
                                         : static_cast<float>(static_cast<double>(extractDone) /
                                                              static_cast<double>(extractTotal));
        }
        if (done) {
            Draw(0, "OK", 866.0f, y, 26.0f, SELECTED, 0.0f, 1e9f);
        } else if (now && phase == Phase::Running) {
            if (progress >= 0.0f) {
                const int lit = static_cast<int>(progress * 100.0f);
                DrawStars(866.0f, y - 2.0f, lit, 100, TITLE);
                Draw(0, std::to_string(lit) + "%", 1192.0f, y, 24.0f, TITLE, 1.0f, 1e9f);
            } else {
                const int k = static_cast<int>(ImGui::GetTime() * 4.0) % 11;
                DrawStars(866.0f, y - 2.0f, k, 10, TITLE);
            }
        } else if (now && phase == Phase::Failed) {
            Draw(0, T({"FAILED", "FALHOU"}), 866.0f, y, 26.0f, WARNING, 0.0f, 1e9f);
        }
        y += pitch;
    }

    std::string detail;
    if (phase == Phase::Failed) {
        detail = g_inst.error;
    } else {
        detail = g_inst.download.empty() ? g_inst.stepDetail : g_inst.download;
    }
    if (g_inst.extracting && phase == Phase::Running) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.0f / %.0f MB", static_cast<double>(extractDone) / 1048576.0,
                      static_cast<double>(extractTotal) / 1048576.0);
        detail = buffer;
    }
    g_draw->AddLine(g_view.P(552.0f, y + 2.0f), g_view.P(1166.0f, y + 2.0f), SEPARATOR, 2.0f * g_view.s);
    DrawUi(detail, CENTRE, y + 10.0f, 19.0f, phase == Phase::Failed ? STATUS_FAILED : STATUS, 0.5f, 674.0f);

    float ly = y + 38.0f;
    if (phase == Phase::Failed && !g_inst.hint.empty()) {
        DrawUi(g_inst.hint, CENTRE, ly, 16.0f, STATUS, 0.5f, 674.0f);
        ly += 28.0f;
    }
    const int lines = std::max(0, static_cast<int>((LOG_BOTTOM - ly) / LOG_PITCH));
    const size_t total = g_inst.log.size();
    const size_t first = total > static_cast<size_t>(lines) ? total - static_cast<size_t>(lines) : 0;
    for (size_t i = first; i < total; ++i) {
        DrawUi(g_inst.log[i], 522.0f, ly, 14.0f, LOG_LINE, 0.0f, 674.0f);
        ly += LOG_PITCH;
    }

    if (phase == Phase::Done) Draw(1, T({"READY!", "PRONTO!"}), CENTRE, 656.0f, 40.0f, GOLD, 0.5f, 1e9f);
}
