/* A host that leaves the library with a port or a notifier open and calls
   it once more from an exit handler, registered before the library was
   used: the way a program cleans up in atexit() or in a global object's
   destructor. Whatever the library keeps must still be there then.

     exit_host <library> <open> <ending>
       open:   com | ft | client | server | notifier
       ending: close     (the handle is closed, ports are listed, then
                          YV_Finalyze)
               finalyze  (YV_Finalyze alone releases what is open)

   Built twice: linked against the library, and loading it with dlopen()
   after the handler is registered (then every static of the library is
   newer than the handler). Exits 0 when every call answered as it should;
   a fault in the handler shows as a crash, a sanitizer report or a hang. */
#include "host_ports.h"

typedef struct Api {
  HRESULT(YV_CALL* Initialize)(uint32_t);
  HRESULT(YV_CALL* Finalyze)(void);
  HRESULT(YV_CALL* Open)(YV_HANDLE*, const char16_t*, int32_t, uint32_t, char, uint8_t);
  HRESULT(YV_CALL* CloseHandle)(YV_HANDLE);
  HRESULT(YV_CALL* RegSerialDevice)(const YV_SERIAL_DEVICE_TYPE*);
  HRESULT(YV_CALL* EnumSerialPorts)(uint32_t, YV_ENUM_PORTS_CALLBACK, void*);
  HRESULT(YV_CALL* FindNotification)(YV_HANDLE*, const YV_NOTIFY_SETTINGS*);
  HRESULT(YV_CALL* GetStatusText)(HRESULT, uint32_t, char16_t*, int32_t, int32_t*);
} Api;

static Api g_api;
static YV_HANDLE g_handle;
static int g_closeFirst;

static void AtExit(void) {
  if (g_closeFirst) {
    char16_t text[64];
    int32_t len = 0;
    if (g_api.CloseHandle(g_handle) != S_OK) HostFail("close in the exit handler");
    if (g_api.EnumSerialPorts(1, HostOnPort, 0) != S_OK) HostFail("listing in the exit handler");
    if (g_api.GetStatusText(YV_E_PORT_BUSY, YV_LANG_ENGLISH, text, 64, &len) != S_OK || len == 0)
      HostFail("status text in the exit handler");
  }
  if (g_api.Finalyze() != S_OK) HostFail("finalyze in the exit handler");
  /* Once finalised, the library answers as a library never initialised. */
  if (g_api.EnumSerialPorts(1, HostOnPort, 0) != YV_E_NOT_INITIALIZED) HostFail("after finalyze");
  printf("exit handler done\n");
}

static void BindApi(const char* path) {
#ifdef EXIT_HOST_LINKED
  (void)path;
  g_api.Initialize = YV_Initialize;
  g_api.Finalyze = YV_Finalyze;
  g_api.Open = YV_Open;
  g_api.CloseHandle = YV_CloseHandle;
  g_api.RegSerialDevice = YV_RegSerialDevice;
  g_api.EnumSerialPorts = YV_EnumSerialPorts;
  g_api.FindNotification = YV_FindNotification;
  g_api.GetStatusText = YV_GetStatusText;
#else
  void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!lib) HostFail(dlerror());
  *(void**)&g_api.Initialize = HostBind(lib, "YV_Initialize");
  *(void**)&g_api.Finalyze = HostBind(lib, "YV_Finalyze");
  *(void**)&g_api.Open = HostBind(lib, "YV_Open");
  *(void**)&g_api.CloseHandle = HostBind(lib, "YV_CloseHandle");
  *(void**)&g_api.RegSerialDevice = HostBind(lib, "YV_RegSerialDevice");
  *(void**)&g_api.EnumSerialPorts = HostBind(lib, "YV_EnumSerialPorts");
  *(void**)&g_api.FindNotification = HostBind(lib, "YV_FindNotification");
  *(void**)&g_api.GetStatusText = HostBind(lib, "YV_GetStatusText");
#endif
}

static void OpenPort(const char* open) {
  char16_t name16[64];
  int listener;
  const int32_t kind = HostPort(open, name16, 64, &listener);
  if (!kind) HostFail("no such port kind");
  if (g_api.Open(&g_handle, name16, kind, 9600, '\n', 2) != S_OK || !g_handle) HostFail("open");
}

int main(int argc, char** argv) {
  static const uint16_t plainPorts[] = {0x0000};
  YV_SERIAL_DEVICE_TYPE type;
  if (argc != 4) HostFail("usage: exit_host <library> <open> <ending>");
  g_closeFirst = strcmp(argv[3], "close") == 0;
  if (atexit(AtExit) != 0) HostFail("atexit");
  BindApi(argv[1]);
  if (g_api.Initialize(YV_INIT_NOWINDOW) != S_OK) HostFail("initialize");
  memset(&type, 0, sizeof type);
  type.TypeIndex = 0;
  type.Pids = plainPorts;
  type.PidCount = 1;
  if (g_api.RegSerialDevice(&type) != S_OK) HostFail("register");
  if (strcmp(argv[2], "notifier") == 0) {
    /* Its worker lists the ports every 20 ms until the handler stops it. */
    YV_NOTIFY_SETTINGS s;
    memset(&s, 0, sizeof s);
    s.Flags = YV_NF_EXIST | YV_NF_CHANGE;
    s.Callback = HostOnNotice;
    s.SerialTypeMask = 1;
    s.SerialScanInterval = 20;
    if (g_api.FindNotification(&g_handle, &s) != S_OK || !g_handle) HostFail("notifier");
  } else {
    OpenPort(argv[2]);
  }
  return 0; /* as exit(0): the handler runs now */
}
