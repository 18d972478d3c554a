// Entry point of the installer program; everything else lives in RunLauncher.
#include "launcher/launcher.h"

int main(int argc, char** argv) {
    return RunLauncher(argc, argv);
}
