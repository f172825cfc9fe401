# The tools the tests, the benchmarks and the demo share to play the real
# program's surroundings (tests/tools, tests/x11), and the helpers the tests
# share (tests/common): another program run and waited for, a home of its
# own, a pty as the card reader, the user at the X server, a test bed of USB
# devices and the tests' notification area.
find_package(X11 REQUIRED)

# The tests' helpers are found by their folder: "common/ConfigHome.h",
# "tools/ChildProcess.h", "x11/XRecorder.h".
add_library(sorvex_test_support INTERFACE)
target_include_directories(sorvex_test_support INTERFACE ${CMAKE_CURRENT_SOURCE_DIR}/tests)

add_library(sorvex_test_tools STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/ChildProcess.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/ProgramHome.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/TestTray.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/UsbBed.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/VirtualReader.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/x11/XProbe.cpp)
target_include_directories(sorvex_test_tools PUBLIC ${PROJECT_SOURCE_DIR}/lib/tests/common)
target_link_libraries(sorvex_test_tools PUBLIC sorvex_test_support X11::X11 X11::Xtst)

# What a test window receives from the X server.
add_library(sorvex_x11_recorder STATIC ${CMAKE_CURRENT_SOURCE_DIR}/tests/x11/XRecorder.cpp)
target_link_libraries(sorvex_x11_recorder PUBLIC sorvex_test_support X11::X11 Threads::Threads)

# The virtual reader of scripts/demo.
add_executable(sorvex_virtual_reader ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/VirtualReaderMain.cpp)
target_link_libraries(sorvex_virtual_reader PRIVATE sorvex_test_tools)

# USB card readers where the machine has none: umockdev's test bed, seen as
# /sys by the programs run under its preload library (SORVEX_UMOCKDEV_PRELOAD).
find_package(PkgConfig REQUIRED)
pkg_check_modules(SORVEX_UMOCKDEV REQUIRED IMPORTED_TARGET umockdev-1.0)
add_executable(sorvex_usb_bed ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/UsbBedMain.cpp)
target_link_libraries(sorvex_usb_bed PRIVATE PkgConfig::SORVEX_UMOCKDEV)

# A small XEmbed tray of the tests' own (not part of the product).
add_executable(sorvex_trayhost ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/TrayHost.cpp)
target_link_libraries(sorvex_trayhost PRIVATE X11::X11)

# The tools' own X11 tests: the probe's waits and clicks.
add_executable(sorvex_probe_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/x11/XProbeTest.cpp)
target_link_libraries(sorvex_probe_tests PRIVATE sorvex_test_tools GTest::gtest_main)
set_target_properties(sorvex_probe_tests PROPERTIES
  CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_SOURCE_DIR}/tests/with-xvfb)
gtest_discover_tests(sorvex_probe_tests PROPERTIES TIMEOUT 120 LABELS x11)
