#pragma once
// DLSS availability: the probe child mode of the program.
#include <filesystem>

// Child mode (VelkorLauncher --probe-dlss <folder> <result file>): loads
// libVelkorDlss.so from `folder`, calls its VelkorDlss_Probe and writes the
// answer to `result` as three lines: the probe's return value, the GPU name
// and the reason. Returns the process exit code: 0 when DLSS is available,
// 1 otherwise.
int RunDlssProbe(const std::filesystem::path& folder, const std::filesystem::path& result);
