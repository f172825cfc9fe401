# The program end to end: the real binary driven from outside, in the
# surroundings the test tools (testtools.cmake) play.

# The virtual reader of scripts/demo.
add_executable(sorvex_virtual_reader ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/VirtualReaderMain.cpp)
target_link_libraries(sorvex_virtual_reader PRIVATE sorvex_test_tools)

# USB card readers where the machine has none: umockdev's test bed, seen as
# /sys by the programs run under its preload library (SORVEX_UMOCKDEV_PRELOAD).
find_package(PkgConfig REQUIRED)
pkg_check_modules(SORVEX_UMOCKDEV REQUIRED IMPORTED_TARGET umockdev-1.0)
add_executable(sorvex_usb_bed ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/UsbBedMain.cpp)
target_link_libraries(sorvex_usb_bed PRIVATE PkgConfig::SORVEX_UMOCKDEV)

# The real sorvex binary under Xvfb (through with-xvfb, like the X11 tests),
# with the notification area of the tests (traytests.cmake).
add_executable(sorvex_e2e_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/EndToEndTest.cpp)
target_link_libraries(sorvex_e2e_tests PRIVATE sorvex_test_tools sorvex_x11_recorder GTest::gtest_main)
target_compile_definitions(sorvex_e2e_tests PRIVATE
  SORVEX_PROGRAM="$<TARGET_FILE:sorvex>" SORVEX_VIRTUAL_READER="$<TARGET_FILE:sorvex_virtual_reader>"
  SORVEX_TRAYHOST="$<TARGET_FILE:sorvex_trayhost>" SORVEX_USB_BED="$<TARGET_FILE:sorvex_usb_bed>"
  SORVEX_UMOCKDEV_PRELOAD="${SORVEX_UMOCKDEV_PRELOAD}")
add_dependencies(sorvex_e2e_tests sorvex sorvex_virtual_reader sorvex_trayhost sorvex_usb_bed)
set_target_properties(sorvex_e2e_tests PROPERTIES
  CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_SOURCE_DIR}/tests/with-xvfb)
gtest_discover_tests(sorvex_e2e_tests PROPERTIES TIMEOUT 180 LABELS x11)
