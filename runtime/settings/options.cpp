#include "runtime/settings/options.h"

namespace settings::options {

bool Portuguese(const settings::Values& values) {
    return values.language.compare(0, 2, "pt") == 0;
}

} // namespace settings::options
