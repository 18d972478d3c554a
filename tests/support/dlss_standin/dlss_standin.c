/* A stand-in for the DLSS module (built as libVelkorDlss.so in a folder of its
 * own) for the probe tests. Its VelkorDlss_Probe behaves as the environment
 * variable VELKOR_DLSS_STANDIN says:
 *   available    GPU "Stand-in RTX 4070", reason "DLSS available", returns 1
 *   unavailable  GPU "", reason "no NVIDIA GPU", returns 0 (also when unset)
 *   raw          writes the result file itself, with the bytes of the file named
 *                by VELKOR_DLSS_STANDIN_RESULT, then ends the process with the
 *                exit status in VELKOR_DLSS_STANDIN_EXIT (default 0)
 *   crash        aborts before anything is written
 *   hang         never returns
 * The result file is the last argument of the probe child's command line.
 * VELKOR_DLSS_STANDIN_LOG names a file to which each call appends its arguments:
 * "module <folder>", "data <folder>", "sizes <gpu> <reason>", "cwd <folder>",
 * "pid <process id>".
 */
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <wchar.h>

static void Utf8(const wchar_t* text, char* out, size_t size) {
    size_t n = 0;
    for (; text && *text && n + 4 < size; ++text) {
        uint32_t c = (uint32_t)*text;
        if (c < 0x80) {
            out[n++] = (char)c;
        } else if (c < 0x800) {
            out[n++] = (char)(0xC0 | (c >> 6));
            out[n++] = (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out[n++] = (char)(0xE0 | (c >> 12));
            out[n++] = (char)(0x80 | ((c >> 6) & 0x3F));
            out[n++] = (char)(0x80 | (c & 0x3F));
        } else {
            out[n++] = (char)(0xF0 | (c >> 18));
            out[n++] = (char)(0x80 | ((c >> 12) & 0x3F));
            out[n++] = (char)(0x80 | ((c >> 6) & 0x3F));
            out[n++] = (char)(0x80 | (c & 0x3F));
        }
    }
    out[n] = '\0';
}

static void RecordCall(const wchar_t* moduleDir, const wchar_t* dataPath, uint32_t gpuSize,
                       uint32_t reasonSize) {
    const char* path = getenv("VELKOR_DLSS_STANDIN_LOG");
    if (!path || !*path) return;
    FILE* f = fopen(path, "a");
    if (!f) return;
    char text[PATH_MAX * 4];
    Utf8(moduleDir, text, sizeof text);
    fprintf(f, "module %s\n", text);
    Utf8(dataPath, text, sizeof text);
    fprintf(f, "data %s\n", text);
    fprintf(f, "sizes %u %u\n", gpuSize, reasonSize);
    if (getcwd(text, sizeof text)) fprintf(f, "cwd %s\n", text);
    fprintf(f, "pid %d\n", (int)getpid());
    fclose(f);
}

/* The last argument of this process: the result file of the probe child. */
static int ResultPath(char* out, size_t size) {
    FILE* f = fopen("/proc/self/cmdline", "rb");
    if (!f) return 0;
    char buffer[8192];
    size_t n = fread(buffer, 1, sizeof buffer - 1, f);
    fclose(f);
    if (n == 0) return 0;
    buffer[n] = '\0';
    size_t end = n;
    if (buffer[end - 1] == '\0') --end;
    size_t start = end;
    while (start > 0 && buffer[start - 1] != '\0') --start;
    snprintf(out, size, "%s", buffer + start);
    return 1;
}

static void WriteResultAndExit(void) {
    char path[PATH_MAX];
    const char* source = getenv("VELKOR_DLSS_STANDIN_RESULT");
    const char* status = getenv("VELKOR_DLSS_STANDIN_EXIT");
    if (source && ResultPath(path, sizeof path)) {
        FILE* in = fopen(source, "rb");
        FILE* out = fopen(path, "wb");
        if (in && out) {
            char buffer[4096];
            size_t n;
            while ((n = fread(buffer, 1, sizeof buffer, in)) > 0) fwrite(buffer, 1, n, out);
        }
        if (in) fclose(in);
        if (out) fclose(out);
    }
    _exit(status ? atoi(status) : 0);
}

__attribute__((visibility("default"))) int32_t VelkorDlss_Probe(const wchar_t* moduleDir,
                                                                 const wchar_t* dataPath, char* gpu,
                                                                 uint32_t gpuSize, char* reason,
                                                                 uint32_t reasonSize) {
    RecordCall(moduleDir, dataPath, gpuSize, reasonSize);
    const char* mode = getenv("VELKOR_DLSS_STANDIN");
    if (!mode) mode = "unavailable";
    if (strcmp(mode, "raw") == 0) WriteResultAndExit();
    if (strcmp(mode, "crash") == 0) abort();
    if (strcmp(mode, "hang") == 0) {
        for (;;) pause();
    }
    int available = strcmp(mode, "available") == 0;
    if (gpu && gpuSize) snprintf(gpu, gpuSize, "%s", available ? "Stand-in RTX 4070" : "");
    if (reason && reasonSize) snprintf(reason, reasonSize, "%s", available ? "DLSS available" : "no NVIDIA GPU");
    return available;
}
