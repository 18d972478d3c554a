#include "launcher/xex_digest.h"

#ifndef VELKOR_XEX_SHA256
#error "VELKOR_XEX_SHA256 must be defined by the build"
#endif

const char* ExpectedXexDigest() { return VELKOR_XEX_SHA256; }
