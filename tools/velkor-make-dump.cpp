// velkor-make-dump FOLDER: writes a complete synthetic game dump (default.xex,
// default.rcf with our own menu art, english.rcf, sound1.rcf, sound2.rcf and
// shaders/) for demonstrations and end-to-end tests.
#include "tests/support/font_fixture.h"
#include "tests/support/synthetic_dump.h"

#include <algorithm>
#include <filesystem>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
        std::fprintf(stderr, "usage: %s FOLDER\nwrites a synthetic game dump into FOLDER\n", argv[0]);
        return 2;
    }
    std::string error;
    if (!testsupport::WriteSyntheticDump(argv[1], error)) {
        std::fprintf(stderr, "velkor-make-dump: %s\n", error.c_str());
        return 1;
    }
    // The persistent package carries the game's two bitmap fonts, rendered by
    // the font fixture; default.rcf is written again with them.
    if (!testsupport::WriteDefaultRcf(argv[1], testsupport::GameFontsIn::Both, error)) {
        std::fprintf(stderr, "velkor-make-dump: %s\n", error.c_str());
        return 1;
    }
    std::printf("synthetic dump written to %s\n", argv[1]);
    return 0;
}
