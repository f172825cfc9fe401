# tests/program: the real sorvex binary driven from outside, on a real X
# server (through with-xvfb, like the X11 tests), in the surroundings the
# test tools (testtools.cmake) play.
set(_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/program)

# Started without an X server, and asked for its usage or version only.
add_executable(sorvex_start_tests ${_tests}/StartTest.cpp)
target_link_libraries(sorvex_start_tests PRIVATE sorvex_test_tools GTest::gtest_main)
target_compile_definitions(sorvex_start_tests PRIVATE
  SORVEX_PROGRAM="$<TARGET_FILE:sorvex>" SORVEX_VERSION="${PROJECT_VERSION}")
add_dependencies(sorvex_start_tests sorvex)
gtest_discover_tests(sorvex_start_tests PROPERTIES TIMEOUT 120)

# End to end: a pty as the reader, a window of the test taking the typed
# cards, the clipboard, the transfer log, a USB reader pulled and plugged.
add_executable(sorvex_e2e_tests ${_tests}/EndToEndTest.cpp)
target_link_libraries(sorvex_e2e_tests PRIVATE sorvex_test_tools sorvex_x11_recorder GTest::gtest_main)
target_compile_definitions(sorvex_e2e_tests PRIVATE
  SORVEX_PROGRAM="$<TARGET_FILE:sorvex>" SORVEX_VIRTUAL_READER="$<TARGET_FILE:sorvex_virtual_reader>"
  SORVEX_TRAYHOST="$<TARGET_FILE:sorvex_trayhost>" SORVEX_USB_BED="$<TARGET_FILE:sorvex_usb_bed>"
  SORVEX_UMOCKDEV_PRELOAD="${SORVEX_UMOCKDEV_PRELOAD}")
add_dependencies(sorvex_e2e_tests sorvex sorvex_virtual_reader sorvex_trayhost sorvex_usb_bed)
set_target_properties(sorvex_e2e_tests PROPERTIES
  CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_SOURCE_DIR}/tests/with-xvfb)
gtest_discover_tests(sorvex_e2e_tests PROPERTIES TIMEOUT 180 LABELS x11)

# The notification area the tests' tray provides: hiding to the tray, the
# icon's click and menu, start-up hidden, the single-instance handshake
# between real processes, and Exit.
add_executable(sorvex_tray_tests ${_tests}/TrayX11Test.cpp)
target_link_libraries(sorvex_tray_tests PRIVATE sorvex_test_tools GTest::gtest)
target_compile_definitions(sorvex_tray_tests PRIVATE
  SORVEX_PROGRAM="$<TARGET_FILE:sorvex>" SORVEX_TRAYHOST="$<TARGET_FILE:sorvex_trayhost>")
add_dependencies(sorvex_tray_tests sorvex sorvex_trayhost)
set_target_properties(sorvex_tray_tests PROPERTIES
  CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_SOURCE_DIR}/tests/with-xvfb)
gtest_discover_tests(sorvex_tray_tests PROPERTIES TIMEOUT 120 LABELS x11)

# The program and the X11 layer under a real window manager (openbox on Xvfb,
# through with-xvfb-wm): frames, placement at every start, icons, and the
# active window.
add_executable(sorvex_wm_tests ${_tests}/WindowManagerX11Test.cpp)
target_link_libraries(sorvex_wm_tests PRIVATE sorvex_x11 sorvex_x11_recorder sorvex_test_tools GTest::gtest)
target_compile_definitions(sorvex_wm_tests PRIVATE SORVEX_PROGRAM="$<TARGET_FILE:sorvex>"
  SORVEX_ICON_SIZES=${SORVEX_ICON_SIZES_TEXT})
add_dependencies(sorvex_wm_tests sorvex)
set_target_properties(sorvex_wm_tests PROPERTIES
  CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_SOURCE_DIR}/tests/with-xvfb-wm)
gtest_discover_tests(sorvex_wm_tests PROPERTIES TIMEOUT 180 LABELS x11)
