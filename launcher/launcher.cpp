#include "launcher/launcher.h"
int RunLauncher(int, char**) { return 0; }
