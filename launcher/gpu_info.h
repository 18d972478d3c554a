#pragma once
// The graphics card the game will most likely run on.
#include <cstdint>
#include <string>

struct GpuInfo {
    uint32_t vendor = 0; // PCI vendor id, 0 when no device was found
    std::string name;    // device name as reported by the driver
    bool forced = false; // vendor comes from VELKOR_GPU_VENDOR
};
