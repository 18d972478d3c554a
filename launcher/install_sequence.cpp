// The INSTALL action and the extraction thread of single-file mode, plus the
// screen hooks the engine reports through.
#include "launcher/install_sequence.h"

#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "launcher/install_dir.h"
#include "launcher/installer.h"
#include "launcher/setup_script.h"
#include "runtime/log.h"
#include "runtime/paths.h"
#include "runtime/platform/text.h"

namespace fs = std::filesystem;

namespace {

// Screen hooks. Set once by the screen; read on the main thread.
std::mutex g_uiMutex;
InstallerUi g_ui;
std::string g_lastMessage[2];
bool g_quitRequested = false;

// Install steps shown by the progress view; the last one is the optional
// asset export.
constexpr int LAST_INSTALL_STEP = 9;

const char* const DLSS_MODULE_FILE = "libVelkorDlss.so";
const char* const NGX_DLSS_PREFIX = "libnvidia-ngx-dlss.so";

// A folder as one quoted item of the script's argument string; quotes and
// backslashes in the name are escaped so that SplitArgs gives it back exactly.
std::wstring Quoted(const fs::path& folder) {
    std::wstring quoted = L"\"";
    for (const wchar_t c : plat::WidenUtf8(folder.string())) {
        if (c == L'"' || c == L'\\') quoted += L'\\';
        quoted += c;
    }
    return quoted + L"\"";
}

// Everything the extraction thread needs, taken on the main thread before it
// starts so that the thread reads no installer field the screen owns.
struct ExtractionJob {
    ComponentSet skip;
    fs::path root;
    fs::path playDir;
    fs::path installDir;
    bool dlss = false;
};

void RunExtraction(const ExtractionJob& job) {
    const auto start = std::chrono::steady_clock::now();
    std::string error = ExtractPayload(g_payload, job.root, job.skip, g_inst.extract);
    if (error.empty()) {
        RemoveStaleFiles(job.skip);
        if (!job.dlss) RemoveDlssLeftovers(job.root, job.playDir);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Log("[setup] extraction to %s: %s (%.1f s)", job.installDir.c_str(), error.empty() ? "ok" : error.c_str(),
        seconds);
    std::lock_guard<std::mutex> lock(g_inst.mutex);
    g_inst.extractError = error;
    g_inst.extractFinished = true;
}

} // namespace

void SetInstallerUi(const InstallerUi& ui) {
    std::lock_guard<std::mutex> lock(g_uiMutex);
    g_ui = ui;
}

void ShowMessage(const std::string& line0, const std::string& line1) {
    InstallerUi ui;
    {
        std::lock_guard<std::mutex> lock(g_uiMutex);
        g_lastMessage[0] = line0;
        g_lastMessage[1] = line1;
        ui = g_ui;
    }
    if (ui.message) ui.message(line0, line1);
}

void RequestQuit() {
    InstallerUi ui;
    {
        std::lock_guard<std::mutex> lock(g_uiMutex);
        g_quitRequested = true;
        ui = g_ui;
    }
    if (ui.quit) ui.quit();
}

std::string LastMessage(int line) {
    std::lock_guard<std::mutex> lock(g_uiMutex);
    return line == 0 || line == 1 ? g_lastMessage[line] : std::string();
}

bool QuitRequested() {
    std::lock_guard<std::mutex> lock(g_uiMutex);
    return g_quitRequested;
}

void ClearInstallerUiState() {
    std::lock_guard<std::mutex> lock(g_uiMutex);
    g_lastMessage[0].clear();
    g_lastMessage[1].clear();
    g_quitRequested = false;
}

bool CanInstall() {
    if (g_inst.bundle && (!g_inst.gpuKnown || g_inst.installDir.empty())) return false;
    std::lock_guard<std::mutex> lock(g_inst.mutex);
    if (!g_inst.dump.Ok() || !g_inst.checked || g_inst.checking) return false;
    for (const Prereq& item : g_inst.prereqs) {
        if (!item.ok) return false;
    }
    return true;
}

ComponentSet SkippedComponents() {
    ComponentSet skip;
    if (!g_inst.dlss) skip.insert("dlss");
    if (!g_inst.extractAssets) skip.insert("modding");
    return skip;
}

std::wstring InstallArgs(bool assetsOnly) {
    std::wstring args = L"--game " + Quoted(GameFolder());
    if (assetsOnly) return args + L" --assets-only";
    if (g_inst.subtitles) args += L" --subtitles";
    if (g_inst.remaster) args += L" --remaster";
    if (g_inst.extractAssets) args += L" --extract-assets";
    if (g_inst.copyGame || g_inst.bundle) args += L" --copy-game";
    if (g_inst.bundle) args += L" --play-dir " + Quoted(PlayDir());
    if (g_inst.bundle && !g_inst.dlss) args += L" --no-dlss";
    args += L" --assets-dir " + Quoted(paths::ExeDir());
    return args + ToolchainArg();
}

void StartInstall(bool assetsOnly) {
    const std::wstring args = InstallArgs(assetsOnly);
    if (!assetsOnly) {
        {
            std::lock_guard<std::mutex> lock(g_inst.mutex);
            g_inst.gameReady = false;
        }
        if (g_inst.bundle) {
            StartExtraction(args);
            return;
        }
    }
    if (StartSetup(args, false)) {
        g_inst.phase = Phase::Running;
    } else {
        ShowMessage(InstallerText("Could not start Python.", "Não foi possível abrir o Python."), "");
    }
}

void StartExtraction(const std::wstring& args) {
    std::string reason;
    if (!Writable(g_inst.installDir, reason)) {
        ShowMessage(reason, g_inst.installDir.string());
        return;
    }
    if (!EnoughSpace()) {
        const std::string line = InstallerText("needs ", "precisa de ") + SizeText(RequiredBytes()) +
                                 InstallerText(", free ", ", livre ") + SizeText(FreeBytes(g_inst.installDir));
        ShowMessage(InstallerText("Not enough free space on this drive:", "Falta espaço livre neste disco:"), line);
        return;
    }
    if (g_inst.extractor.joinable()) g_inst.extractor.join();
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        g_inst.log.clear();
        g_inst.error.clear();
        g_inst.hint.clear();
        g_inst.download.clear();
        g_inst.stepDetail.clear();
        g_inst.step = 0;
        g_inst.progress = 0.0f;
        AddLogLine(InstallerText("Installing to ", "Instalando em ") + g_inst.installDir.string());
        AddLogLine(g_inst.dlss ? InstallerText("NVIDIA RTX GPU: DLSS included.", "Placa NVIDIA RTX: DLSS incluído.")
                               : InstallerText("No NVIDIA RTX GPU: DLSS left out (no upscaler: no FSR on Linux yet).",
                                               "Sem placa NVIDIA RTX: DLSS fora (sem upscaler: ainda não há FSR no "
                                               "Linux)."));
        g_inst.extracting = true;
        g_inst.extractFinished = false;
    }
    g_inst.pendingArgs = plat::NarrowUtf8(args);
    g_inst.extract.done.store(0);
    g_inst.extract.total.store(0);
    g_inst.extract.cancel.store(false);
    g_inst.phase = Phase::Running;

    ExtractionJob job;
    job.skip = SkippedComponents();
    job.root = Root();
    job.playDir = PlayDir();
    job.installDir = g_inst.installDir;
    job.dlss = g_inst.dlss;
    g_inst.extractor = std::thread([job] { RunExtraction(job); });
}

void RemoveDlssLeftovers(const fs::path& root, const fs::path& playDir) {
    const fs::path folders[] = {root / "thirdparty" / "dlss" / "bin", root / "build", playDir};
    for (const fs::path& folder : folders) {
        std::vector<fs::path> doomed;
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name == DLSS_MODULE_FILE || name.compare(0, std::char_traits<char>::length(NGX_DLSS_PREFIX),
                                                         NGX_DLSS_PREFIX) == 0) {
                doomed.push_back(it->path());
            }
        }
        for (const fs::path& file : doomed) {
            std::error_code removeError;
            fs::remove(file, removeError);
        }
    }
}

bool AssetsOnlyFailed() {
    std::lock_guard<std::mutex> lock(g_inst.mutex);
    return g_inst.phase == Phase::Failed && g_inst.gameReady && g_inst.step == LAST_INSTALL_STEP;
}
