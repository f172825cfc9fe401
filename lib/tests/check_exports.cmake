# The shared library exports exactly the interface's functions.
execute_process(COMMAND nm -D --defined-only ${LIB}
                OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(found)
foreach(line IN LISTS lines)
  # "<address> <type> <name>"; the version node is an absolute symbol.
  if(line MATCHES "^[0-9a-f]+ ([A-Za-z]) ([^ @]+)")
    if(NOT CMAKE_MATCH_1 STREQUAL "A")
      list(APPEND found ${CMAKE_MATCH_2})
    endif()
  endif()
endforeach()
list(SORT found)
set(expected
  YV_Clear YV_CloseHandle YV_DeviceEventNotify YV_EnumIpDevices YV_EnumSerialDevices
  YV_EnumSerialPorts YV_Finalyze YV_FindNotification YV_FindSerialDevice YV_GetBaudAndEvChar
  YV_GetFtDriverVersion YV_GetFtLibVersion YV_GetInCount YV_GetStatusText YV_GetVersion
  YV_Initialize YV_Open YV_ProcessMessages YV_Read YV_RegIpDevice YV_RegSerialDevice
  YV_SetBaudAndEvChar YV_SetDtr YV_SetRts YV_StartWaitEvent YV_Write)
list(SORT expected)
list(LENGTH expected n)
if(NOT n EQUAL 26)
  message(FATAL_ERROR "the expected list itself is wrong: ${n} names")
endif()
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exports differ\n  found:    ${found}\n  expected: ${expected}")
endif()
message(STATUS "26 exports as expected")
