// DLSS availability probe: the child side, run as
// "VelkorLauncher --probe-dlss <module folder> <result file>".
#include "launcher/gpu_probe.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

#include "runtime/platform/platform.h"
#include "runtime/platform/text.h"

namespace fs = std::filesystem;

namespace {

const char* const DLSS_MODULE = "libVelkorDlss.so";

// VelkorDlss_Probe of the DLSS module: (module folder, data folder, GPU-name
// buffer and size, reason buffer and size) -> non-zero when DLSS runs here.
using ProbeFunction = int32_t (*)(const wchar_t* moduleDir, const wchar_t* dataPath, char* gpu,
                                  uint32_t gpuSize, char* reason, uint32_t reasonSize);

void CopyText(char* buffer, size_t size, const std::string& text) {
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

} // namespace

int RunDlssProbe(const fs::path& folder, const fs::path& result) {
    int32_t available = 0;
    char gpu[256] = {};
    char reason[512] = {};
    CopyText(reason, sizeof reason, "libVelkorDlss.so could not be loaded");

    void* module = plat::OpenLibrary(folder / DLSS_MODULE);
    if (!module) {
        CopyText(reason, sizeof reason, plat::LastErrorText());
    } else if (auto probe = reinterpret_cast<ProbeFunction>(plat::FindSymbol(module, "VelkorDlss_Probe"));
               !probe) {
        CopyText(reason, sizeof reason, "libVelkorDlss.so has no VelkorDlss_Probe");
    } else {
        std::error_code ec;
        fs::path data = fs::temp_directory_path(ec);
        data = (ec ? fs::path("/tmp") : data) / "VelkorRecomp_ngx";
        const std::wstring moduleDir = plat::WidenUtf8(folder.string());
        const std::wstring dataDir = plat::WidenUtf8(data.string());
        available = probe(moduleDir.c_str(), dataDir.c_str(), gpu, sizeof gpu, reason, sizeof reason);
        // The module writes the buffers; never trust it to end them.
        gpu[sizeof gpu - 1] = '\0';
        reason[sizeof reason - 1] = '\0';
        fs::remove_all(data, ec);
        // The module stays loaded until the process ends.
    }

    if (FILE* f = std::fopen(result.c_str(), "wb")) {
        std::fprintf(f, "%d\n%s\n%s\n", static_cast<int>(available), gpu, reason);
        std::fclose(f);
    }
    return available != 0 ? 0 : 1;
}
