/* A host that loads the library, uses it and unloads it again, over and
   over: the way a program loads a driver for a while and lets it go. Every
   cycle initialises the library, registers a type, lists the ports, opens
   one handle of the kind given, closes it, finalises and unloads. A heap
   block that only the unloaded library pointed to is lost for good, so a
   host that keeps doing this must not grow.

     unload_host <library> <use>
       use: none | com | ft | client | server | notifier

   The heap in use is taken after some cycles, once the run-time's own
   first-use allocations are made (the dynamic loader's tables grow over
   the first few loads of a library, then stay), and again after many
   more; it must not have grown. Each dlclose() must also really unload
   the library, or the test would prove nothing. Exits 0 when both hold. */
#include "host_ports.h" /* first: it asks for the GNU interfaces */

#include <malloc.h>
#include <poll.h>

#ifdef __SANITIZE_ADDRESS__
/* The sanitizer keeps a heap of its own, which malloc's statistics miss. */
size_t __sanitizer_get_current_allocated_bytes(void);
static size_t HeapInUse(void) { return __sanitizer_get_current_allocated_bytes(); }
#else
static size_t HeapInUse(void) { return mallinfo2().uordblks; }
#endif

enum { kWarmUpCycles = 10, kCycles = 40 };

static const char* g_path;
static const char* g_use;
static char16_t g_name[64];
static int32_t g_kind;
static int g_listener = -1;

/* The connections a client port made and left in the listener's queue. */
static void DropConnections(void) {
  struct pollfd p = {g_listener, POLLIN, 0};
  while (poll(&p, 1, 0) == 1) {
    const int s = accept(g_listener, NULL, NULL);
    if (s < 0) break;
    close(s);
  }
}

static void Cycle(void) {
  static const uint16_t plainPorts[] = {0x0000};
  HRESULT(YV_CALL * initialize)(uint32_t);
  HRESULT(YV_CALL * finalyze)(void);
  HRESULT(YV_CALL * regSerialDevice)(const YV_SERIAL_DEVICE_TYPE*);
  HRESULT(YV_CALL * enumSerialPorts)(uint32_t, YV_ENUM_PORTS_CALLBACK, void*);
  HRESULT(YV_CALL * open)(YV_HANDLE*, const char16_t*, int32_t, uint32_t, char, uint8_t);
  HRESULT(YV_CALL * findNotification)(YV_HANDLE*, const YV_NOTIFY_SETTINGS*);
  HRESULT(YV_CALL * closeHandle)(YV_HANDLE);
  YV_SERIAL_DEVICE_TYPE type;
  YV_HANDLE handle = 0;
  void* lib = dlopen(g_path, RTLD_NOW | RTLD_LOCAL);
  if (!lib) HostFail(dlerror());
  *(void**)&initialize = HostBind(lib, "YV_Initialize");
  *(void**)&finalyze = HostBind(lib, "YV_Finalyze");
  *(void**)&regSerialDevice = HostBind(lib, "YV_RegSerialDevice");
  *(void**)&enumSerialPorts = HostBind(lib, "YV_EnumSerialPorts");
  *(void**)&open = HostBind(lib, "YV_Open");
  *(void**)&findNotification = HostBind(lib, "YV_FindNotification");
  *(void**)&closeHandle = HostBind(lib, "YV_CloseHandle");

  if (initialize(YV_INIT_NOWINDOW) != S_OK) HostFail("initialize");
  memset(&type, 0, sizeof type);
  type.Pids = plainPorts;
  type.PidCount = 1;
  if (regSerialDevice(&type) != S_OK) HostFail("register");
  if (enumSerialPorts(1, HostOnPort, 0) != S_OK) HostFail("listing");
  if (strcmp(g_use, "notifier") == 0) {
    /* Its worker lists the ports at once and every 10 ms after. */
    YV_NOTIFY_SETTINGS s;
    memset(&s, 0, sizeof s);
    s.Flags = YV_NF_EXIST | YV_NF_CHANGE;
    s.Callback = HostOnNotice;
    s.SerialTypeMask = 1;
    s.SerialScanInterval = 10;
    if (findNotification(&handle, &s) != S_OK || !handle) HostFail("notifier");
    usleep(30 * 1000);
  } else if (g_kind) {
    if (open(&handle, g_name, g_kind, 9600, '\n', 2) != S_OK || !handle) HostFail("open");
  }
  if (handle && closeHandle(handle) != S_OK) HostFail("close");
  if (finalyze() != S_OK) HostFail("finalyze");
  if (dlclose(lib) != 0) HostFail(dlerror());
  if (dlopen(g_path, RTLD_NOW | RTLD_NOLOAD)) HostFail("the library stays loaded after dlclose");
  if (g_listener >= 0) DropConnections();
}

int main(int argc, char** argv) {
  size_t before, after;
  int i;
  if (argc != 3) HostFail("usage: unload_host <library> <use>");
  g_path = argv[1];
  g_use = argv[2];
  if (strcmp(g_use, "none") != 0 && strcmp(g_use, "notifier") != 0) {
    g_kind = HostPort(g_use, g_name, 64, &g_listener);
    if (!g_kind) HostFail("no such use");
  }
  for (i = 0; i < kWarmUpCycles; ++i) Cycle();
  before = HeapInUse();
  for (i = 0; i < kCycles; ++i) Cycle();
  after = HeapInUse();
  printf("heap in use: %zu bytes, %zu after %d more cycles\n", before, after, kCycles);
  if (after > before) {
    fprintf(stderr, "unload_host: %zu bytes lost in %d cycles of %s\n", after - before, kCycles,
            g_use);
    return 1;
  }
  return 0;
}
