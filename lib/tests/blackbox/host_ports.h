/* What the C hosts of these tests open: a port of each kind, named as the
   library takes it, on devices and sockets of this machine. */
#ifndef HOST_PORTS_H
#define HOST_PORTS_H

#define _GNU_SOURCE /* ptsname_r */
#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h> /* program_invocation_short_name */
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "ylvane.h"

static inline void HostFail(const char* what) {
  fprintf(stderr, "%s: %s\n", program_invocation_short_name, what);
  _exit(2);
}

/* A function of a loaded library, which must have it. */
static inline void* HostBind(void* lib, const char* name) {
  void* fn = dlsym(lib, name);
  if (!fn) HostFail(name);
  return fn;
}

/* Callbacks that take whatever they are told. */
static inline YV_BOOL YV_CALL HostOnPort(const YV_PORT_INFO* Info, void* UserData) {
  (void)Info;
  (void)UserData;
  return 1;
}

static inline YV_BOOL YV_CALL HostOnNotice(uint32_t Kind, const void* Payload, void* UserData) {
  (void)Kind;
  (void)Payload;
  (void)UserData;
  return 1;
}

/* An ASCII text as the library's UTF-16. */
static inline void Utf16(char16_t* out, size_t room, const char* text) {
  size_t i = 0;
  for (; text[i] && i + 1 < room; ++i) out[i] = (char16_t)(unsigned char)text[i];
  out[i] = 0;
}

/* A loopback TCP socket, listening (for a client port to reach; *listener
   is its descriptor) or, with listener NULL, closed again: a free port for
   a server port to listen on. Returns the TCP port. */
static inline int LoopbackPort(int* listener) {
  struct sockaddr_in a;
  socklen_t len = sizeof a;
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  memset(&a, 0, sizeof a);
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s < 0 || bind(s, (struct sockaddr*)&a, sizeof a) != 0 || listen(s, 4) != 0 ||
      getsockname(s, (struct sockaddr*)&a, &len) != 0)
    HostFail("loopback socket");
  if (listener)
    *listener = s;
  else
    close(s);
  return ntohs(a.sin_port);
}

/* The name and type of a port of the kind given ("com": a new pty, "ft": a
   device of the stand-in driver library, found by the driver's own name,
   "client": a loopback listener whose descriptor goes to *listener,
   "server": a free loopback port). 0 for an unknown kind. */
static inline int32_t HostPort(const char* open, char16_t* name16, size_t room, int* listener) {
  char name[64];
  int32_t kind;
  if (strcmp(open, "com") == 0) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char path[64];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, path, sizeof path) != 0)
      HostFail("pty");
    snprintf(name, sizeof name, "%s", path + 5); /* "pts/N" */
    kind = YV_PORT_COM;
  } else if (strcmp(open, "ft") == 0) {
    void* fake = dlopen("libftd2xx.so", RTLD_NOW);
    void (*reset)(uint32_t, uint32_t);
    void (*add)(uint32_t, uint32_t, const char*, const char*);
    if (!fake) HostFail(dlerror());
    *(void**)&reset = HostBind(fake, "FakeFt_ResetDevices");
    *(void**)&add = HostBind(fake, "FakeFt_AddDevice");
    reset(0, 0);
    add(0, 5, "RDR0042", "Card reader");
    snprintf(name, sizeof name, "RDR0042");
    kind = YV_PORT_FT;
  } else if (strcmp(open, "client") == 0) {
    snprintf(name, sizeof name, "127.0.0.1:%d", LoopbackPort(listener));
    kind = YV_PORT_IP;
  } else if (strcmp(open, "server") == 0) {
    snprintf(name, sizeof name, "127.0.0.1:%d", LoopbackPort(NULL));
    kind = YV_PORT_IPS;
  } else {
    return 0;
  }
  Utf16(name16, room, name);
  return kind;
}

#endif /* HOST_PORTS_H */
