#pragma once
// One item reported by the setup script's prerequisite check.
#include <string>

struct Prereq {
    std::string name; // tool name, or a package requirement such as "numpy>=1.26"
    std::string path; // where the tool was found; may be empty
    bool ok = false;
};
