#pragma once
// State of the DLSS availability probe, shared between the probe thread and
// the main thread. `state` goes 0 (not started) -> 1 (running) -> 2 (finished);
// the store of 2 publishes the other fields.
#include <atomic>
#include <string>
#include <thread>

struct DlssProbe {
    std::atomic<int> state{0};
    bool available = false;
    std::string gpu;
    std::string reason;
    std::thread thread;
};

extern DlssProbe g_dlssProbe;
