#pragma once
// PCI vendors of graphics cards and the VELKOR_GPU_VENDOR override, shared by
// the installer's GPU detection and the game.
#include <cstdint>

namespace settings {

inline constexpr uint32_t VENDOR_NVIDIA = 0x10DE;
inline constexpr uint32_t VENDOR_AMD = 0x1002;
inline constexpr uint32_t VENDOR_INTEL = 0x8086;

// The vendor named by VELKOR_GPU_VENDOR: "nvidia", "amd"/"ati" or "intel" in
// any case, otherwise the text read as a hexadecimal number ("10de", "0x10de").
// 0 when the variable is unset, empty or names nothing.
uint32_t ForcedGpuVendor();

// "NVIDIA", "AMD", "Intel"; "?" for 0 (no device); "other" for anything else.
const char* GpuVendorName(uint32_t vendor);

} // namespace settings
