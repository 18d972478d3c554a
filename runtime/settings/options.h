#pragma once
// The options model's shared pieces: every user-visible text is a pair of
// static UTF-8 texts, English and Brazilian Portuguese.
#include "runtime/settings/settings.h"

namespace settings::options {

struct Text {
    const char* en;
    const char* pt;
};

// True when the values' language begins with "pt" (for example "pt-br").
bool Portuguese(const settings::Values& values);

} // namespace settings::options
