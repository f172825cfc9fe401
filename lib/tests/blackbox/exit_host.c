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
#define _GNU_SOURCE /* ptsname_r */
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ylvane.h"

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

static void Fail(const char* what) {
  fprintf(stderr, "exit_host: %s\n", what);
  _exit(2);
}

static YV_BOOL YV_CALL OnPort(const YV_PORT_INFO* Info, void* UserData) {
  (void)Info;
  (void)UserData;
  return 1;
}

static YV_BOOL YV_CALL OnNotice(uint32_t Kind, const void* Payload, void* UserData) {
  (void)Kind;
  (void)Payload;
  (void)UserData;
  return 1;
}

static void AtExit(void) {
  if (g_closeFirst) {
    char16_t text[64];
    int32_t len = 0;
    if (g_api.CloseHandle(g_handle) != S_OK) Fail("close in the exit handler");
    if (g_api.EnumSerialPorts(1, OnPort, 0) != S_OK) Fail("listing in the exit handler");
    if (g_api.GetStatusText(YV_E_PORT_BUSY, YV_LANG_ENGLISH, text, 64, &len) != S_OK || len == 0)
      Fail("status text in the exit handler");
  }
  if (g_api.Finalyze() != S_OK) Fail("finalyze in the exit handler");
  /* Once finalised, the library answers as a library never initialised. */
  if (g_api.EnumSerialPorts(1, OnPort, 0) != YV_E_NOT_INITIALIZED) Fail("after finalyze");
  printf("exit handler done\n");
}

static void Bind(void* lib, void** fn, const char* name) {
  *fn = dlsym(lib, name);
  if (!*fn) Fail(name);
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
  if (!lib) Fail(dlerror());
  Bind(lib, (void**)&g_api.Initialize, "YV_Initialize");
  Bind(lib, (void**)&g_api.Finalyze, "YV_Finalyze");
  Bind(lib, (void**)&g_api.Open, "YV_Open");
  Bind(lib, (void**)&g_api.CloseHandle, "YV_CloseHandle");
  Bind(lib, (void**)&g_api.RegSerialDevice, "YV_RegSerialDevice");
  Bind(lib, (void**)&g_api.EnumSerialPorts, "YV_EnumSerialPorts");
  Bind(lib, (void**)&g_api.FindNotification, "YV_FindNotification");
  Bind(lib, (void**)&g_api.GetStatusText, "YV_GetStatusText");
#endif
}

/* An ASCII text as the library's UTF-16. */
static void Utf16(char16_t* out, size_t room, const char* text) {
  size_t i = 0;
  for (; text[i] && i + 1 < room; ++i) out[i] = (char16_t)(unsigned char)text[i];
  out[i] = 0;
}

/* A loopback TCP port: listening (for a client port to reach) or, once
   closed again, free (for a server port to listen on). */
static int LoopbackPort(int keepListening) {
  struct sockaddr_in a;
  socklen_t len = sizeof a;
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s < 0 || bind(s, (struct sockaddr*)&a, sizeof a) != 0 || listen(s, 4) != 0 ||
      getsockname(s, (struct sockaddr*)&a, &len) != 0)
    Fail("loopback socket");
  if (!keepListening) close(s);
  return ntohs(a.sin_port);
}

static void OpenPort(const char* open) {
  char name[64];
  char16_t name16[64];
  int32_t kind;
  if (strcmp(open, "com") == 0) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char path[64];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, path, sizeof path) != 0)
      Fail("pty");
    snprintf(name, sizeof name, "%s", path + 5); /* "pts/N" */
    kind = YV_PORT_COM;
  } else if (strcmp(open, "ft") == 0) {
    /* The stand-in driver library, found by the driver's own name. */
    void* fake = dlopen("libftd2xx.so", RTLD_NOW);
    void (*reset)(uint32_t, uint32_t);
    void (*add)(uint32_t, uint32_t, const char*, const char*);
    if (!fake) Fail(dlerror());
    Bind(fake, (void**)&reset, "FakeFt_ResetDevices");
    Bind(fake, (void**)&add, "FakeFt_AddDevice");
    reset(0, 0);
    add(0, 5, "RDR0042", "Card reader");
    snprintf(name, sizeof name, "RDR0042");
    kind = YV_PORT_FT;
  } else if (strcmp(open, "client") == 0) {
    snprintf(name, sizeof name, "127.0.0.1:%d", LoopbackPort(1));
    kind = YV_PORT_IP;
  } else if (strcmp(open, "server") == 0) {
    snprintf(name, sizeof name, "127.0.0.1:%d", LoopbackPort(0));
    kind = YV_PORT_IPS;
  } else {
    Fail("no such port kind");
    return;
  }
  Utf16(name16, 64, name);
  if (g_api.Open(&g_handle, name16, kind, 9600, '\n', 2) != S_OK || !g_handle) Fail("open");
}

int main(int argc, char** argv) {
  static const uint16_t plainPorts[] = {0x0000};
  YV_SERIAL_DEVICE_TYPE type;
  if (argc != 4) Fail("usage: exit_host <library> <open> <ending>");
  g_closeFirst = strcmp(argv[3], "close") == 0;
  if (atexit(AtExit) != 0) Fail("atexit");
  BindApi(argv[1]);
  if (g_api.Initialize(YV_INIT_NOWINDOW) != S_OK) Fail("initialize");
  memset(&type, 0, sizeof type);
  type.TypeIndex = 0;
  type.Pids = plainPorts;
  type.PidCount = 1;
  if (g_api.RegSerialDevice(&type) != S_OK) Fail("register");
  if (strcmp(argv[2], "notifier") == 0) {
    /* Its worker lists the ports every 20 ms until the handler stops it. */
    YV_NOTIFY_SETTINGS s;
    memset(&s, 0, sizeof s);
    s.Flags = YV_NF_EXIST | YV_NF_CHANGE;
    s.Callback = OnNotice;
    s.SerialTypeMask = 1;
    s.SerialScanInterval = 20;
    if (g_api.FindNotification(&g_handle, &s) != S_OK || !g_handle) Fail("notifier");
  } else {
    OpenPort(argv[2]);
  }
  return 0; /* as exit(0): the handler runs now */
}
