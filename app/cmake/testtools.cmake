# The tools the tests, the benchmarks and the demo share to play the real
# program's surroundings: another program run and waited for, a home of its
# own, a pty as the card reader, the user at the X server and the tests'
# notification area.
find_package(X11 REQUIRED)

add_library(sorvex_test_tools STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/ChildProcess.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/ProgramHome.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/TestTray.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/UsbBed.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/VirtualReader.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/x11/XProbe.cpp)
target_include_directories(sorvex_test_tools PUBLIC
  ${CMAKE_CURRENT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/lib/tests/common)
target_link_libraries(sorvex_test_tools PUBLIC X11::X11 X11::Xtst)
