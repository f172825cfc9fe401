/* A stand-in for the FTDI driver library: only what the tests call. */
#include <stdint.h>
#include <string.h>

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

/* ---- The device list --------------------------------------------------- */

/* One node of the list, in the layout the driver fills. */
typedef struct FakeFtNode {
  uint32_t Flags;
  uint32_t Type;
  uint32_t ID;
  uint32_t LocId;
  char SerialNumber[16];
  char Description[64];
  void* ftHandle;
} FakeFtNode;

#define FAKE_MAX_NODES 64
static FakeFtNode g_nodes[FAKE_MAX_NODES];
static uint32_t g_count = 0;
static uint32_t g_createStatus = 0;
static uint32_t g_getStatus = 0;

FAKE_EXPORT uint32_t FT_CreateDeviceInfoList(uint32_t* count) {
  if (g_createStatus != 0) return g_createStatus;
  *count = g_count;
  return 0;
}

FAKE_EXPORT uint32_t FT_GetDeviceInfoList(FakeFtNode* list, uint32_t* count) {
  if (g_getStatus != 0) return g_getStatus;
  memcpy(list, g_nodes, g_count * sizeof(FakeFtNode));
  *count = g_count;
  return 0;
}

/* Test control: the list empties; the two list calls answer these statuses. */
FAKE_EXPORT void FakeFt_ResetDevices(uint32_t createStatus, uint32_t getStatus) {
  memset(g_nodes, 0, sizeof g_nodes);
  g_count = 0;
  g_createStatus = createStatus;
  g_getStatus = getStatus;
}

/* Test control: one more device. The texts fill their fields without a
   terminator when they are that long, as the driver may leave them. */
FAKE_EXPORT void FakeFt_AddDevice(uint32_t flags, uint32_t type, const char* serial,
                                  const char* description) {
  if (g_count >= FAKE_MAX_NODES) return;
  FakeFtNode* n = &g_nodes[g_count++];
  n->Flags = flags;
  n->Type = type;
  strncpy(n->SerialNumber, serial, sizeof n->SerialNumber);
  strncpy(n->Description, description, sizeof n->Description);
}
