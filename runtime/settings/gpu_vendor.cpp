#include "runtime/settings/gpu_vendor.h"

#include <cstdlib>
#include <string>

namespace settings {

uint32_t ForcedGpuVendor() {
    const char* text = std::getenv("VELKOR_GPU_VENDOR");
    if (!text || !*text) return 0;
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (lower == "nvidia") return VENDOR_NVIDIA;
    if (lower == "amd" || lower == "ati") return VENDOR_AMD;
    if (lower == "intel") return VENDOR_INTEL;
    // A number in hexadecimal, as written; parsing stops at the first character
    // that is no hexadecimal digit, so a plain word gives 0 (no override).
    return static_cast<uint32_t>(std::strtoul(text, nullptr, 16));
}

const char* GpuVendorName(uint32_t vendor) {
    switch (vendor) {
    case VENDOR_NVIDIA: return "NVIDIA";
    case VENDOR_AMD: return "AMD";
    case VENDOR_INTEL: return "Intel";
    case 0: return "?";
    default: return "other";
    }
}

} // namespace settings
