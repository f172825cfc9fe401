/* A stand-in for the FTDI driver library: only what the tests call. */
#include <stdint.h>

#define FAKE_EXPORT __attribute__((visibility("default")))

static uint32_t g_version = 0x00030102; /* 3.1.2, major in byte 2 */
static uint32_t g_status = 0;

FAKE_EXPORT uint32_t FT_GetLibraryVersion(uint32_t* version) {
  if (g_status != 0) return g_status;
  *version = g_version;
  return 0;
}

/* Test control: what the next FT_GetLibraryVersion answers. */
FAKE_EXPORT void FakeFt_SetLibraryVersion(uint32_t version, uint32_t status) {
  g_version = version;
  g_status = status;
}
