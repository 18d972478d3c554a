#pragma once

// The whole program: command line, start-up, window and frame loop.
// Returns the process exit code.
int RunLauncher(int argc, char** argv);
