#pragma once
// Which graphics card the game will most likely run on, asked of the system's
// Vulkan loader (libvulkan.so.1, opened at run time; never linked).
#include <string>

#include "launcher/gpu_info.h"

// Creates one Vulkan 1.3 instance, enumerates the physical devices and picks
// the best one that supports Vulkan 1.3: a discrete GPU before an integrated
// one before any other kind, with 10 extra points for a device whose name
// contains VELKOR_VULKAN_DEVICE; ties keep the earlier device. Any missing
// piece yields vendor 0 and an empty name. VELKOR_GPU_VENDOR then overrides
// the vendor (and sets `forced`). Blocking; opens no device.
GpuInfo DetectGpu();

// The log line of the detection: "[setup] GPU <name> (<vendor>)", with "?" for
// an unknown name and ", VELKOR_GPU_VENDOR" after the vendor when it is forced.
std::string GpuReportLine(const GpuInfo& gpu);
