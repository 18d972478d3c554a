// Weak fallbacks for the pieces the installer lifecycle calls (see
// installer_hooks.h). Each does the least that keeps the installer sound:
// no DLSS, no remembered folder, no shortcuts, no installation start.
#include "launcher/installer_hooks.h"

#include <cstdlib>

#include "launcher/installer.h"

#define VELKOR_FALLBACK __attribute__((weak))

VELKOR_FALLBACK std::filesystem::path DefaultInstallDir() {
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home ? home : "/tmp") / "Games" / "Velkor of the Ombrax Lumenfall";
}

VELKOR_FALLBACK void RememberInstallDir() {}

VELKOR_FALLBACK uint64_t FolderBytes(const std::filesystem::path&) {
    return 0;
}

VELKOR_FALLBACK void CheckPrerequisites() {
    // Single-file mode carries its own toolchain; otherwise the lists stay
    // unknown and INSTALL stays disabled.
    if (!g_inst.bundle) return;
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        g_inst.prereqs.clear();
    }
    g_inst.checked = true;
}

VELKOR_FALLBACK void StartGpuCheck() {
    g_inst.gpuKnown = true;
    g_inst.dlss = false;
}

VELKOR_FALLBACK void UpdateGpuCheck() {}

VELKOR_FALLBACK void ApplyShortcuts() {}

VELKOR_FALLBACK bool CanInstall() {
    return false;
}

VELKOR_FALLBACK void StartInstall(bool) {}
