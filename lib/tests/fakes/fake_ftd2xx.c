/* A stand-in for the FTDI driver library, written for the tests: a device
   list, devices opened by serial number that a test feeds and reads, and
   controls to make calls fail and to pull a device out. */
#include "fake_ftd2xx.h"

#include <errno.h>
#include <pthread.h>
#include <stdint.h>
#include <string.h>
#include <time.h>

#define FAKE_EXPORT __attribute__((visibility("default")))

enum {
  ST_OK = 0,
  ST_INVALID_HANDLE = 1,
  ST_DEVICE_NOT_FOUND = 2,
  ST_DEVICE_NOT_OPENED = 3,
  ST_INVALID_PARAMETER = 6,
};

static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t g_changed; /* data arrived, a device closed or went */
static int32_t g_readWaitCap = -1;

__attribute__((constructor)) static void FakeInit(void) {
  pthread_condattr_t a;
  pthread_condattr_init(&a);
  pthread_condattr_setclock(&a, CLOCK_MONOTONIC);
  pthread_cond_init(&g_changed, &a);
  pthread_condattr_destroy(&a);
}

/* ---- Versions ------------------------------------------------------------ */

static uint32_t g_version = 0x00030102; /* 3.1.2, major in byte 2 */
static uint32_t g_status = 0;
static uint32_t g_driverVersion = 0x00020C06;
static uint32_t g_driverStatus = 0;

FAKE_EXPORT uint32_t FT_GetLibraryVersion(uint32_t* version) {
  if (g_status != 0) return g_status;
  *version = g_version;
  return 0;
}

FAKE_EXPORT void FakeFt_SetLibraryVersion(uint32_t version, uint32_t status) {
  g_version = version;
  g_status = status;
}

FAKE_EXPORT void FakeFt_SetDriverVersion(uint32_t version, uint32_t status) {
  g_driverVersion = version;
  g_driverStatus = status;
}

/* ---- Devices ------------------------------------------------------------- */

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

/* The record a port hands to FT_SetEventNotification, in the driver's shape:
   a condition that is signalled under its mutex, and an int the driver
   writes as it signals. */
typedef struct FakeEventRecord {
  pthread_cond_t cond;
  pthread_mutex_t mutex;
  int events;
} FakeEventRecord;

#define FAKE_MAX_NODES 64
#define FAKE_QUEUE 8192

typedef struct FakeDevice {
  FakeFtNode node;
  int gone;
  uint32_t goneStatus;
  FakeFtSettings set;
  FakeEventRecord* record;
  int32_t writeLimit;
  uint32_t rxLen, txLen;
  unsigned char rx[FAKE_QUEUE];
  unsigned char tx[FAKE_QUEUE];
} FakeDevice;

static FakeDevice g_devs[FAKE_MAX_NODES];
static uint32_t g_count = 0;
static uint32_t g_createStatus = 0;
static uint32_t g_getStatus = 0;

/* Injected failures, by function. */
static const char* const g_names[] = {
    "FT_OpenEx",  "FT_Close",  "FT_SetBaudRate", "FT_SetDataCharacteristics", "FT_SetFlowControl",
    "FT_SetChars", "FT_SetTimeouts", "FT_Purge", "FT_SetEventNotification", "FT_Write", "FT_Read",
    "FT_GetStatus", "FT_SetDtr", "FT_ClrDtr", "FT_SetRts", "FT_ClrRts"};
enum {
  F_OPENEX, F_CLOSE, F_BAUD, F_DATA, F_FLOW, F_CHARS, F_TIMEOUTS, F_PURGE, F_NOTIFY, F_WRITE,
  F_READ, F_STATUS, F_SETDTR, F_CLRDTR, F_SETRTS, F_CLRRTS, F_COUNT
};
static uint32_t g_fail[F_COUNT];

static int SameSerial(const FakeDevice* d, const char* serial) {
  size_t n = strlen(serial);
  return n == strnlen(d->node.SerialNumber, sizeof d->node.SerialNumber) &&
         memcmp(d->node.SerialNumber, serial, n) == 0;
}

static FakeDevice* BySerial(const char* serial) {
  for (uint32_t i = 0; i < g_count; ++i)
    if (SameSerial(&g_devs[i], serial)) return &g_devs[i];
  return NULL;
}

static void SignalRecord(FakeDevice* d) {
  if (!d->record || !(d->set.eventMask & 1)) return;
  pthread_mutex_lock(&d->record->mutex);
  d->record->events |= 1; /* a character was received */
  pthread_cond_signal(&d->record->cond);
  pthread_mutex_unlock(&d->record->mutex);
}

/* The device behind an open handle, with g_lock held; *st is what the call
   answers when it returns NULL. */
static FakeDevice* Enter(void* h, int fn, uint32_t* st) {
  pthread_mutex_lock(&g_lock);
  uintptr_t i = (uintptr_t)h;
  *st = ST_OK;
  if (i == 0 || i > g_count || !g_devs[i - 1].set.opened) {
    *st = ST_INVALID_HANDLE;
  } else if (g_devs[i - 1].gone) {
    *st = g_devs[i - 1].goneStatus;
  } else if (g_fail[fn] != 0) {
    *st = g_fail[fn];
  }
  if (*st != ST_OK) {
    pthread_mutex_unlock(&g_lock);
    return NULL;
  }
  return &g_devs[i - 1];
}

static uint32_t Leave(uint32_t st) {
  pthread_mutex_unlock(&g_lock);
  return st;
}

FAKE_EXPORT uint32_t FT_CreateDeviceInfoList(uint32_t* count) {
  if (g_createStatus != 0) return g_createStatus;
  pthread_mutex_lock(&g_lock);
  uint32_t n = 0;
  for (uint32_t i = 0; i < g_count; ++i) n += !g_devs[i].gone;
  *count = n;
  return Leave(ST_OK);
}

FAKE_EXPORT uint32_t FT_GetDeviceInfoList(FakeFtNode* list, uint32_t* count) {
  if (g_getStatus != 0) return g_getStatus;
  pthread_mutex_lock(&g_lock);
  uint32_t n = 0;
  for (uint32_t i = 0; i < g_count && n < *count; ++i) {
    if (g_devs[i].gone) continue;
    list[n] = g_devs[i].node;
    if (g_devs[i].set.opened) list[n].Flags |= 1;
    ++n;
  }
  *count = n;
  return Leave(ST_OK);
}

FAKE_EXPORT void FakeFt_ResetDevices(uint32_t createStatus, uint32_t getStatus) {
  pthread_mutex_lock(&g_lock);
  memset(g_devs, 0, sizeof g_devs);
  memset(g_fail, 0, sizeof g_fail);
  g_count = 0;
  g_createStatus = createStatus;
  g_getStatus = getStatus;
  g_readWaitCap = -1;
  g_driverVersion = 0x00020C06;
  g_driverStatus = 0;
  pthread_mutex_unlock(&g_lock);
}

FAKE_EXPORT void FakeFt_AddDevice(uint32_t flags, uint32_t type, const char* serial,
                                  const char* description) {
  pthread_mutex_lock(&g_lock);
  if (g_count < FAKE_MAX_NODES) {
    FakeDevice* d = &g_devs[g_count++];
    memset(d, 0, sizeof *d);
    d->node.Flags = flags;
    d->node.Type = type;
    strncpy(d->node.SerialNumber, serial, sizeof d->node.SerialNumber);
    strncpy(d->node.Description, description, sizeof d->node.Description);
    d->set.baud = 19200; /* the device's own rate until one is set */
    d->set.dtr = d->set.rts = -1;
    d->writeLimit = -1;
  }
  pthread_mutex_unlock(&g_lock);
}

FAKE_EXPORT int FakeFt_SetFailure(const char* function, uint32_t status) {
  for (int i = 0; i < F_COUNT; ++i) {
    if (strcmp(g_names[i], function) == 0) {
      pthread_mutex_lock(&g_lock);
      g_fail[i] = status;
      pthread_mutex_unlock(&g_lock);
      return 0;
    }
  }
  return -1;
}

FAKE_EXPORT int FakeFt_Feed(const char* serial, const void* data, uint32_t size) {
  pthread_mutex_lock(&g_lock);
  FakeDevice* d = BySerial(serial);
  if (!d || d->gone || size > FAKE_QUEUE - d->rxLen) return (int)Leave((uint32_t)-1);
  memcpy(d->rx + d->rxLen, data, size);
  d->rxLen += size;
  pthread_cond_broadcast(&g_changed);
  /* Under g_lock: FT_Close cannot take the record away meanwhile. */
  SignalRecord(d);
  return (int)Leave(0);
}

FAKE_EXPORT uint32_t FakeFt_TakeWritten(const char* serial, void* buf, uint32_t cap) {
  pthread_mutex_lock(&g_lock);
  FakeDevice* d = BySerial(serial);
  uint32_t n = 0;
  if (d) {
    n = d->txLen < cap ? d->txLen : cap;
    memcpy(buf, d->tx, n);
    memmove(d->tx, d->tx + n, d->txLen - n);
    d->txLen -= n;
  }
  return Leave(n);
}

FAKE_EXPORT int FakeFt_SetWriteLimit(const char* serial, int32_t limit) {
  pthread_mutex_lock(&g_lock);
  FakeDevice* d = BySerial(serial);
  if (d) d->writeLimit = limit;
  return (int)Leave(d ? 0 : (uint32_t)-1);
}

FAKE_EXPORT int FakeFt_GetSettings(const char* serial, FakeFtSettings* out) {
  pthread_mutex_lock(&g_lock);
  FakeDevice* d = BySerial(serial);
  if (d) *out = d->set;
  return (int)Leave(d ? 0 : (uint32_t)-1);
}

FAKE_EXPORT int FakeFt_Unplug(const char* serial, uint32_t status, int wakeWaiters) {
  pthread_mutex_lock(&g_lock);
  FakeDevice* d = BySerial(serial);
  if (!d) return (int)Leave((uint32_t)-1);
  d->gone = 1;
  d->goneStatus = status;
  pthread_cond_broadcast(&g_changed);
  if (wakeWaiters) SignalRecord(d);
  return (int)Leave(0);
}

FAKE_EXPORT void FakeFt_SetReadWaitCap(int32_t ms) {
  pthread_mutex_lock(&g_lock);
  g_readWaitCap = ms;
  pthread_mutex_unlock(&g_lock);
}

/* ---- The driver functions a port calls ------------------------------------ */

FAKE_EXPORT uint32_t FT_OpenEx(void* arg, uint32_t flags, void** handle) {
  pthread_mutex_lock(&g_lock);
  if (g_fail[F_OPENEX] != 0) return Leave(g_fail[F_OPENEX]);
  if (flags != 1) return Leave(ST_INVALID_PARAMETER); /* only by serial number here */
  FakeDevice* d = BySerial((const char*)arg);
  if (!d || d->gone) return Leave(ST_DEVICE_NOT_FOUND);
  if ((d->node.Flags & 1) || d->set.opened) return Leave(ST_DEVICE_NOT_OPENED);
  d->set.opened = 1;
  d->set.openFlags = flags;
  *handle = (void*)(uintptr_t)(d - g_devs + 1);
  return Leave(ST_OK);
}

FAKE_EXPORT uint32_t FT_Close(void* h) {
  pthread_mutex_lock(&g_lock);
  uintptr_t i = (uintptr_t)h;
  if (i == 0 || i > g_count || !g_devs[i - 1].set.opened) return Leave(ST_INVALID_HANDLE);
  /* A close the driver refuses changes nothing: the device stays open and
     its event record is still signalled. */
  if (g_fail[F_CLOSE] != 0) return Leave(g_fail[F_CLOSE]);
  FakeDevice* d = &g_devs[i - 1];
  d->set.opened = 0;
  d->record = NULL;
  d->set.hasEventRecord = 0;
  pthread_cond_broadcast(&g_changed);
  return Leave(ST_OK);
}

FAKE_EXPORT uint32_t FT_SetBaudRate(void* h, uint32_t baud) {
  uint32_t st;
  FakeDevice* d = Enter(h, F_BAUD, &st);
  if (!d) return st;
  d->set.baudCalls++;
  if (baud == 0) return Leave(ST_INVALID_PARAMETER); /* no such rate */
  d->set.baud = baud;
  return Leave(ST_OK);
}

FAKE_EXPORT uint32_t FT_SetDataCharacteristics(void* h, uint8_t bits, uint8_t stopBits,
                                               uint8_t parity) {
  uint32_t st;
  FakeDevice* d = Enter(h, F_DATA, &st);
  if (!d) return st;
  d->set.wordLength = bits;
  d->set.stopBits = stopBits;
  d->set.parity = parity;
  return Leave(ST_OK);
}

FAKE_EXPORT uint32_t FT_SetFlowControl(void* h, uint16_t flow, uint8_t xon, uint8_t xoff) {
  uint32_t st;
  FakeDevice* d = Enter(h, F_FLOW, &st);
  if (!d) return st;
  d->set.flow = flow;
  d->set.xon = xon;
  d->set.xoff = xoff;
  return Leave(ST_OK);
}

FAKE_EXPORT uint32_t FT_SetChars(void* h, uint8_t ev, uint8_t evEnabled, uint8_t err,
                                 uint8_t errEnabled) {
  uint32_t st;
  FakeDevice* d = Enter(h, F_CHARS, &st);
  if (!d) return st;
  d->set.evChar = ev;
  d->set.evEnabled = evEnabled;
  d->set.errChar = err;
  d->set.errEnabled = errEnabled;
  d->set.charsCalls++;
  return Leave(ST_OK);
}

FAKE_EXPORT uint32_t FT_SetTimeouts(void* h, uint32_t readMs, uint32_t writeMs) {
  uint32_t st;
  FakeDevice* d = Enter(h, F_TIMEOUTS, &st);
  if (!d) return st;
  d->set.readTimeout = readMs;
  d->set.writeTimeout = writeMs;
  return Leave(ST_OK);
}

FAKE_EXPORT uint32_t FT_Purge(void* h, uint32_t mask) {
  uint32_t st;
  FakeDevice* d = Enter(h, F_PURGE, &st);
  if (!d) return st;
  if (mask & 1) d->rxLen = 0;
  if (mask & 2) d->txLen = 0;
  d->set.purged |= mask;
  d->set.purgeCalls++;
  return Leave(ST_OK);
}

FAKE_EXPORT uint32_t FT_SetEventNotification(void* h, uint32_t mask, void* param) {
  uint32_t st;
  FakeDevice* d = Enter(h, F_NOTIFY, &st);
  if (!d) return st;
  d->set.eventMask = mask;
  d->record = (FakeEventRecord*)param;
  d->set.hasEventRecord = param != NULL;
  return Leave(ST_OK);
}

FAKE_EXPORT uint32_t FT_Write(void* h, void* buf, uint32_t count, uint32_t* written) {
  uint32_t st;
  FakeDevice* d = Enter(h, F_WRITE, &st);
  if (!d) return st;
  uint32_t n = count;
  if (d->writeLimit >= 0 && n > (uint32_t)d->writeLimit) n = (uint32_t)d->writeLimit;
  if (n > FAKE_QUEUE - d->txLen) n = FAKE_QUEUE - d->txLen;
  memcpy(d->tx + d->txLen, buf, n);
  d->txLen += n;
  *written = n;
  return Leave(ST_OK);
}

FAKE_EXPORT uint32_t FT_Read(void* h, void* buf, uint32_t count, uint32_t* got) {
  uint32_t st;
  FakeDevice* d = Enter(h, F_READ, &st);
  if (!d) return st;
  /* Returns when count bytes are there or the read time-out has passed. */
  int32_t waitMs = (int32_t)d->set.readTimeout;
  if (g_readWaitCap >= 0 && g_readWaitCap < waitMs) waitMs = g_readWaitCap;
  struct timespec end;
  clock_gettime(CLOCK_MONOTONIC, &end);
  end.tv_sec += waitMs / 1000;
  end.tv_nsec += (long)(waitMs % 1000) * 1000000L;
  if (end.tv_nsec >= 1000000000L) {
    end.tv_sec += 1;
    end.tv_nsec -= 1000000000L;
  }
  while (d->rxLen < count && d->set.opened && !d->gone) {
    if (pthread_cond_timedwait(&g_changed, &g_lock, &end) == ETIMEDOUT) break;
  }
  if (!d->set.opened) return Leave(ST_INVALID_HANDLE);
  if (d->gone && d->rxLen == 0) return Leave(d->goneStatus);
  uint32_t n = d->rxLen < count ? d->rxLen : count;
  memcpy(buf, d->rx, n);
  memmove(d->rx, d->rx + n, d->rxLen - n);
  d->rxLen -= n;
  *got = n;
  return Leave(ST_OK);
}

FAKE_EXPORT uint32_t FT_GetStatus(void* h, uint32_t* rx, uint32_t* tx, uint32_t* events) {
  uint32_t st;
  FakeDevice* d = Enter(h, F_STATUS, &st);
  if (!d) return st;
  *rx = d->rxLen;
  *tx = 0;
  *events = 0;
  return Leave(ST_OK);
}

static uint32_t SetLine(void* h, int fn, int rts, int on) {
  uint32_t st;
  FakeDevice* d = Enter(h, fn, &st);
  if (!d) return st;
  if (rts)
    d->set.rts = on;
  else
    d->set.dtr = on;
  return Leave(ST_OK);
}

FAKE_EXPORT uint32_t FT_SetDtr(void* h) { return SetLine(h, F_SETDTR, 0, 1); }
FAKE_EXPORT uint32_t FT_ClrDtr(void* h) { return SetLine(h, F_CLRDTR, 0, 0); }
FAKE_EXPORT uint32_t FT_SetRts(void* h) { return SetLine(h, F_SETRTS, 1, 1); }
FAKE_EXPORT uint32_t FT_ClrRts(void* h) { return SetLine(h, F_CLRRTS, 1, 0); }

FAKE_EXPORT uint32_t FT_GetDriverVersion(void* h, uint32_t* version) {
  pthread_mutex_lock(&g_lock);
  uintptr_t i = (uintptr_t)h;
  if (i == 0 || i > g_count || !g_devs[i - 1].set.opened) return Leave(ST_INVALID_HANDLE);
  if (g_driverStatus != 0) return Leave(g_driverStatus);
  *version = g_driverVersion;
  return Leave(ST_OK);
}
