/* A host written in C: the header compiles as C and the library links. */
#include <stdio.h>

#include "ylvane.h"

static YV_BOOL YV_CALL OnPort(const YV_PORT_INFO* Info, void* UserData) {
  (void)Info;
  (void)UserData;
  return 1;
}

int main(void) {
  int failures = 0;
  YV_HANDLE h = 0;
  if (YV_GetVersion() != 0x00010B01u) ++failures;
  if (YV_EnumSerialPorts(1, OnPort, 0) != YV_E_NOT_INITIALIZED) ++failures;
  if (YV_Initialize(0) != S_OK) ++failures;
  if (YV_Open(&h, u"pts/999999", YV_PORT_COM, 9600, 10, 2) != YV_E_PORT_NOT_EXISTS || h) ++failures;
  if (YV_Finalyze() != S_OK) ++failures;
  printf("%d passed, %d failed\n", failures ? 0 : 1, failures ? 1 : 0);
  return failures ? 1 : 0;
}
