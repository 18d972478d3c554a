/* A stand-in DLSS module (libVelkorDlss.so) that lacks VelkorDlss_Probe: it
 * exports only the interface version. */
#include <stdint.h>

__attribute__((visibility("default"))) uint32_t VelkorDlss_ApiVersion(void) { return 1; }
