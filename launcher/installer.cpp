// The installer's state and lifecycle: language, start-up, the per-frame
// update that advances the phase, cancellation, shutdown and unattended mode.
#include "launcher/installer.h"

#include <cstdlib>
#include <signal.h>
#include <strings.h>
#include <system_error>

#include "launcher/dlss_probe.h"
#include "launcher/install_dir.h"
#include "launcher/install_sequence.h"
#include "launcher/launcher.h"
#include "launcher/prereq.h"
#include "launcher/setup_script.h"
#include "launcher/shortcuts.h"
#include "runtime/log.h"
#include "runtime/platform/text.h"
#include "runtime/settings/options.h"

namespace fs = std::filesystem;

Installer g_inst;

namespace {

constexpr size_t LOG_LIMIT = 400;
constexpr size_t LOG_DROP = 100;

const char* const LANGUAGE_VARIABLES[] = {"VELKOR_SETUP_LANGUAGE", "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};

} // namespace

const char* InstallerText(const char* en, const char* pt) {
    return settings::options::Portuguese(g_values) ? pt : en;
}

bool InstallerPt() {
    for (const char* name : LANGUAGE_VARIABLES) {
        const char* value = std::getenv(name);
        if (!value || !*value) continue;
        return strncasecmp(value, "pt", 2) == 0;
    }
    return false;
}

void PrepareInstaller(const std::vector<std::string>& commandLine) {
    g_payload = ReadPayload();
    g_inst.bundle = g_payload.present;
    for (size_t i = 1; i + 1 < commandLine.size(); ++i) {
        const std::string& arg = commandLine[i];
        if (arg == "--install-dir" || arg == "--shots") {
            std::error_code ec;
            fs::path value = fs::absolute(fs::path(commandLine[i + 1]), ec);
            if (ec) value = commandLine[i + 1];
            (arg == "--install-dir" ? g_inst.installDir : g_inst.shots) = value;
            ++i;
        }
    }
    if (g_inst.bundle && g_inst.installDir.empty()) g_inst.installDir = DefaultInstallDir();
}

void InitInstaller() {
    g_values.language = InstallerPt() ? "pt-br" : "english";
    const fs::path game = GameFolder();
    const DumpProblem dump = CheckDump(game);
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        g_inst.dump = dump;
    }
    Log("[setup] game folder %s: %s", game.c_str(), dump.Ok() ? "compatible" : dump.en[0].c_str());
    if (g_inst.bundle) {
        Log("[setup] single-file installer %s: %zu files, %.0f MB; install folder %s", g_payload.tag.c_str(),
            g_payload.files.size(), static_cast<double>(g_payload.Bytes({})) / 1048576.0,
            g_inst.installDir.c_str());
        StartGpuCheck();
        g_inst.gameBytes = FolderBytes(game);
    }
    CheckPrerequisites();
}

void AddLogLine(const std::string& line) {
    g_inst.log.push_back(line);
    if (g_inst.log.size() > LOG_LIMIT) {
        g_inst.log.erase(g_inst.log.begin(), g_inst.log.begin() + LOG_DROP);
    }
}

void UpdateInstaller() {
    UpdateGpuCheck();

    if (g_inst.extracting) {
        std::string extractError;
        {
            std::lock_guard<std::mutex> lock(g_inst.mutex);
            if (!g_inst.extractFinished) return;
            extractError = g_inst.extractError;
        }
        if (g_inst.extractor.joinable()) g_inst.extractor.join();
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        g_inst.extracting = false;
        if (extractError.empty()) {
            g_inst.python = plat::WidenUtf8(BundledPython().string());
            AddLogLine(InstallerText("Files extracted; building the game...", "Arquivos extraídos; montando o jogo..."));
            g_inst.step = 1;
            g_inst.setupPending = true;
        } else {
            g_inst.error = extractError == "cancelled" ? InstallerText("Stopped.", "Interrompido.") : extractError;
            g_inst.phase = Phase::Failed;
        }
        return;
    }

    if (g_inst.setupPending) {
        g_inst.setupPending = false;
        if (!StartSetup(plat::WidenUtf8(g_inst.pendingArgs), false)) {
            std::lock_guard<std::mutex> lock(g_inst.mutex);
            g_inst.error = InstallerText("Could not start the installed Python (toolchain\\python).",
                                         "Não foi possível abrir o Python instalado (toolchain\\python).");
            g_inst.phase = Phase::Failed;
        }
        return;
    }

    std::lock_guard<std::mutex> lock(g_inst.mutex);
    if (!g_inst.processDone || g_inst.process == 0) return;
    g_inst.process = 0;
    if (g_inst.checking) {
        g_inst.checking = false;
        g_inst.checked = true;
        return;
    }
    const bool done = g_inst.exitCode == 0;
    g_inst.phase = done ? Phase::Done : Phase::Failed;
    if (!done && g_inst.error.empty()) {
        g_inst.error = g_inst.cancelled ? InstallerText("Stopped.", "Interrompido.")
                                        : InstallerText("setup.py failed (see the log).", "o setup.py falhou (veja o log).");
    }
    if (done && g_inst.bundle) {
        RememberInstallDir();
        g_inst.selected = 2;
    }
    if (g_inst.bundle && (done || g_inst.gameReady) && !g_payload.tag.empty()) WriteVersionFile();
    if (g_inst.logFile) {
        std::fclose(g_inst.logFile);
        g_inst.logFile = nullptr;
    }
}

void CancelInstall() {
    g_inst.extract.cancel.exchange(true);
    std::lock_guard<std::mutex> lock(g_inst.mutex);
    if (g_inst.process != 0 && !g_inst.processDone) {
        g_inst.cancelled = true;
        kill(-g_inst.process, SIGTERM);
    }
}

void InstallerExit(bool& quit) {
    if (g_inst.phase == Phase::Running) CancelInstall();
    ApplyShortcuts();
    quit = true;
}

void ShutdownInstaller() {
    CancelInstall();
    if (g_inst.extractor.joinable()) g_inst.extractor.join();
    if (g_inst.reader.joinable()) g_inst.reader.join();
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        if (g_inst.logFile) {
            std::fclose(g_inst.logFile);
            g_inst.logFile = nullptr;
        }
    }
    if (!g_inst.probeDir.empty() && g_dlssProbe.state.load() == 2) {
        std::error_code ec;
        fs::remove_all(g_inst.probeDir, ec);
    }
}

UnattendedResult UpdateUnattended(bool messageOpen, bool shotPending) {
    UnattendedResult result;
    if (g_inst.autoStart && g_inst.phase == Phase::Setup) {
        if (CanInstall() && !messageOpen && !shotPending) {
            g_inst.autoStart = false;
            StartInstall(false);
        } else if (g_inst.checked && !g_inst.checking && (!g_inst.bundle || g_inst.gpuKnown) && !CanInstall()) {
            g_inst.autoStart = false;
        }
    }
    if (g_inst.autoFinish && messageOpen) {
        result.closeMessage = true;
        g_inst.finalCode = 1;
        result.quit = true;
        return result;
    }
    if (g_inst.autoFinish && !g_inst.autoStart && g_inst.phase != Phase::Running && !shotPending &&
        (g_inst.phase != Phase::Setup || g_inst.gpuKnown)) {
        ApplyShortcuts();
        g_inst.finalCode = g_inst.phase == Phase::Done ? 0 : 1;
        result.quit = true;
    }
    return result;
}
