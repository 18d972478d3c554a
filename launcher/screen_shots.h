#pragma once
// The screenshot series (--shots FOLDER): one numbered picture of every
// distinct installer state, taken on the 20th frame after the state began and
// written by the frame loop after the frame is rendered (g_inst.pendingShot).
#include <string>

// Frames a state must last before it is photographed.
inline constexpr int SHOT_DELAY_FRAMES = 20;

// The state key: phase number, "_", the current shown step while running
// (else 0), and in the setup phase "k" when the GPU decision is known, "u"
// otherwise. For example 0_0u, 0_0k, 1_4, 2_0, 3_0.
std::string ShotKey();
// The series step, at the end of every frame.
void TakeShots();
// Whether the series has captured (and written) the current state; always
// true without a series.
bool InstallerShotsDone();
