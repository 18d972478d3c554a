#pragma once
// The progress view of the installer's right-hand panel: the install steps
// with their marks and star bars, the status line, the hint, the tail of the
// setup log and "READY!". Drawn from g_inst under its mutex.
#include "runtime/settings/options.h"

// One shown step's name in both languages.
struct InstallStep {
    settings::options::Text name;
};

// The steps the setup script reports with "@@step k" (k = 1..9).
extern const InstallStep INSTALL_STEPS[9];
// The extra first step of single-file mode.
extern const InstallStep EXTRACT_STEP;

// Shown step i (from 0): single-file mode puts EXTRACT_STEP first.
const InstallStep& ShownStep(int i);
// Number of shown steps: 10 in single-file mode, else 9.
int ShownStepCount();
// The current shown step, from 1 (0: none yet, without a payload).
int CurrentShownStep();
// The whole view, inside the installer window after the panel title.
void DrawProgress();
