#pragma once
// The prerequisite check of the mode without a payload: the setup script,
// started with "--check", reports every tool and Python package it needs; the
// answers fill g_inst.prereqs and g_inst.packages.
#include <string>

// One item reported by the setup script's prerequisite check.
struct Prereq {
    std::string name; // tool name, or a package requirement such as "numpy>=1.26"
    std::string path; // where the tool was found; may be empty
    bool ok = false;
};

// Starts a check (or decides it without one). In single-file mode the payload
// brings its own tools: the lists are empty and valid at once.
void CheckPrerequisites();
// Number of missing tools. The caller holds g_inst.mutex.
int MissingCount();
// The missing packages' names without their version requirements, joined with
// ", "; empty when none is missing. The caller holds g_inst.mutex.
std::string MissingPackages();
// Tells the user (message dialog) how to install what is missing.
void InstallMissing();
// The prerequisites row: while no check runs, shows how to install what is
// missing (if anything is) and checks again.
void PrereqsRowAction();
// The build-tools row: while no check runs, switches between the included
// toolchain and Visual Studio and checks again.
void ToolchainRowAction();
