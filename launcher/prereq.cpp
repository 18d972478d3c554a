// The prerequisite check: the setup script's "--check" mode and what the
// screen's prerequisites and build-tools rows do with its answers.
#include "launcher/prereq.h"

#include <mutex>
#include <system_error>

#include "launcher/install_sequence.h"
#include "launcher/installer.h"
#include "launcher/setup_script.h"
#include "runtime/platform/text.h"

namespace fs = std::filesystem;

namespace {

bool Exists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

} // namespace

void CheckPrerequisites() {
    if (g_inst.bundle) {
        {
            std::lock_guard<std::mutex> lock(g_inst.mutex);
            g_inst.prereqs.clear();
        }
        g_inst.checked = true;
        return;
    }
    const fs::path bundled = BundledPython();
    g_inst.python = Exists(bundled) ? plat::WidenUtf8(bundled.string()) : FindPython();
    g_inst.checked = false;
    if (!g_inst.python.empty() && Exists(SetupScript())) {
        g_inst.checking = StartSetup(L"--check" + ToolchainArg(), true);
        return;
    }
    Prereq missing;
    missing.name = g_inst.python.empty() ? "Python 3.11+" : "tools\\setup.py";
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        g_inst.prereqs.assign(1, missing);
    }
    g_inst.checked = true;
}

int MissingCount() {
    int count = 0;
    for (const Prereq& item : g_inst.prereqs) {
        if (!item.ok) ++count;
    }
    return count;
}

std::string MissingPackages() {
    std::string names;
    for (const Prereq& item : g_inst.packages) {
        if (item.ok) continue;
        if (!names.empty()) names += ", ";
        names += item.name.substr(0, item.name.find(">="));
    }
    return names;
}

void InstallMissing() {
    ShowMessage(InstallerText("Run in a terminal, then CHECK AGAIN:", "Rode num terminal e depois VERIFICAR DE NOVO:"),
                "python3 tools/toolchain.py fetch");
}

void PrereqsRowAction() {
    if (g_inst.checking) return;
    bool missing = false;
    if (g_inst.checked) {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        missing = MissingCount() > 0 || !MissingPackages().empty();
    }
    if (missing) InstallMissing();
    CheckPrerequisites();
}

void ToolchainRowAction() {
    if (g_inst.checking) return;
    {
        std::lock_guard<std::mutex> lock(g_inst.mutex);
        g_inst.toolchain = g_inst.toolchain == "msvc" ? "bundled" : "msvc";
    }
    g_inst.toolchainChosen = true;
    CheckPrerequisites();
}
