/* The test controls of our stand-in driver library. A test links the fake
   and the library under test loads the same file by its path, so both see
   one set of devices. */
#ifndef FAKE_FTD2XX_H
#define FAKE_FTD2XX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What the port set on a device, as the driver was told. */
typedef struct FakeFtSettings {
  int32_t opened;        /* by a caller of FT_OpenEx */
  uint32_t openFlags;    /* of the last FT_OpenEx */
  uint32_t baud;         /* the device's rate (its own until set) */
  uint32_t baudCalls;
  uint8_t wordLength, stopBits, parity;
  uint16_t flow;
  uint8_t xon, xoff;
  uint8_t evChar, evEnabled, errChar, errEnabled;
  uint32_t charsCalls;
  uint32_t readTimeout, writeTimeout;
  uint32_t purged;       /* every purge mask ORed together */
  uint32_t purgeCalls;
  uint32_t eventMask;
  int32_t hasEventRecord;
  int32_t dtr, rts;      /* -1 until set */
} FakeFtSettings;

/* What the next FT_GetLibraryVersion answers. */
void FakeFt_SetLibraryVersion(uint32_t version, uint32_t status);
/* What FT_GetDriverVersion answers. */
void FakeFt_SetDriverVersion(uint32_t version, uint32_t status);

/* Forgets every device and every failure; the two list calls answer these
   statuses. */
void FakeFt_ResetDevices(uint32_t createStatus, uint32_t getStatus);
/* One more device. Flags bit 0: opened by another program. The texts fill
   their fields without a terminator when they are that long. */
void FakeFt_AddDevice(uint32_t flags, uint32_t type, const char* serial, const char* description);

/* The named driver function answers status from now on (0: works again). */
int FakeFt_SetFailure(const char* function, uint32_t status);
/* Bytes arriving from the device; they wake a reader and signal the event
   record when the port asked for received characters. */
int FakeFt_Feed(const char* serial, const void* data, uint32_t size);
/* Takes what the port wrote to the device; returns the byte count. */
uint32_t FakeFt_TakeWritten(const char* serial, void* buf, uint32_t cap);
/* Writes take at most limit bytes each (-1: no limit), as a write cut
   short by its time-out. */
int FakeFt_SetWriteLimit(const char* serial, int32_t limit);
int FakeFt_GetSettings(const char* serial, FakeFtSettings* out);
/* The device is pulled out: it leaves the list, and every call on its
   handle answers status. With wakeWaiters the event record is signalled
   as well. */
int FakeFt_Unplug(const char* serial, uint32_t status, int wakeWaiters);
/* A read waits at most this long for its bytes (-1: its time-out). */
void FakeFt_SetReadWaitCap(int32_t ms);

#ifdef __cplusplus
}
#endif

#endif
