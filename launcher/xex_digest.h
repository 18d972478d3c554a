#pragma once
// SHA-256 (64 lower-case hex digits) of the one default.xex the port supports.
// Compiled in from the build; the development build of the synthetic demo dump
// links its own digest.
const char* ExpectedXexDigest();
