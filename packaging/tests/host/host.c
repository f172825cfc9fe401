/*
 * A host program of the installed library, built against the install only:
 * it opens a pseudo-terminal by its name below /dev, the way it would open a
 * reader's ttyUSB0, and reads the line the other side writes.
 */
#define _XOPEN_SOURCE 600
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <ylvane.h>

static int Fail(const char* AWhat, HRESULT AResult) {
  fprintf(stderr, "host: %s failed (0x%08X)\n", AWhat, (unsigned)AResult);
  return 1;
}

int main(void) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return Fail("posix_openpt", 0);
  const char* path = ptsname(master);
  if (!path || strncmp(path, "/dev/", 5) != 0 || strlen(path + 5) >= 31) return Fail("ptsname", 0);
  char16_t name[32];
  size_t n = 0;
  for (const char* c = path + 5; *c; ++c) name[n++] = (char16_t)(unsigned char)*c;
  name[n] = 0;

  HRESULT hr = YV_Initialize(0);
  if (hr != S_OK) return Fail("YV_Initialize", hr);
  YV_HANDLE port = 0;
  hr = YV_Open(&port, name, YV_PORT_COM, 9600, '\n', 2);
  if (hr != S_OK) return Fail("YV_Open", hr);

  const char line[] = "MUL[04 A2 19 7B]\r\n";
  if (write(master, line, sizeof line - 1) != (ssize_t)(sizeof line - 1)) return Fail("write", 0);
  char got[64] = {0};
  int32_t have = 0;
  while (!memchr(got, '\n', (size_t)have)) {
    int event = -1;
    hr = YV_StartWaitEvent(port, &event);
    if (hr != S_OK) return Fail("YV_StartWaitEvent", hr);
    struct pollfd p = {event, POLLIN, 0};
    /* A limit against a hang only: the line is there at once. */
    if (poll(&p, 1, 30000) != 1) return Fail("waiting for the line", 0);
    int32_t count = 0, read = 0;
    hr = YV_GetInCount(port, &count);
    if (hr != S_OK) return Fail("YV_GetInCount", hr);
    if (count > (int32_t)sizeof got - 1 - have) count = (int32_t)sizeof got - 1 - have;
    if (have >= (int32_t)sizeof got - 1) return Fail("reading a line that long", 0);
    if (count <= 0) continue;
    hr = YV_Read(port, got + have, count, &read);
    if (hr != S_OK) return Fail("YV_Read", hr);
    have += read;
  }
  if (strcmp(got, line) != 0) {
    fprintf(stderr, "host: read \"%s\", not the line written\n", got);
    return 1;
  }
  hr = YV_CloseHandle(port);
  if (hr != S_OK) return Fail("YV_CloseHandle", hr);
  hr = YV_Finalyze();
  if (hr != S_OK) return Fail("YV_Finalyze", hr);
  close(master);
  printf("host: read the line from %s\n", path + 5);
  return 0;
}
