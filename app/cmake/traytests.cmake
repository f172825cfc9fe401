# The program itself on a real X server, with the notification area a test
# tool provides: hiding to the tray, the icon's click and menu, start-up
# hidden, the single-instance handshake between real processes, and Exit.

# A small XEmbed tray of the tests' own (not part of the product).
add_executable(sorvex_trayhost ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/TrayHost.cpp)
target_link_libraries(sorvex_trayhost PRIVATE X11::X11)

add_executable(sorvex_tray_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/TrayX11Test.cpp)
target_link_libraries(sorvex_tray_tests PRIVATE sorvex_test_tools GTest::gtest)
target_compile_definitions(sorvex_tray_tests PRIVATE
  SORVEX_PROGRAM="$<TARGET_FILE:sorvex>" SORVEX_TRAYHOST="$<TARGET_FILE:sorvex_trayhost>")
add_dependencies(sorvex_tray_tests sorvex sorvex_trayhost)
set_target_properties(sorvex_tray_tests PROPERTIES
  CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_SOURCE_DIR}/tests/with-xvfb)
gtest_discover_tests(sorvex_tray_tests PROPERTIES TIMEOUT 120 LABELS x11)

# The icon's image, decided by a fixture device tree (offscreen).
add_executable(sorvex_trayicon_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/TrayIconTest.cpp)
target_link_libraries(sorvex_trayicon_tests PRIVATE sorvex_mainwin ylvane_core GTest::gtest)
target_include_directories(sorvex_trayicon_tests PRIVATE ${PROJECT_SOURCE_DIR}/lib/tests/common)
gtest_discover_tests(sorvex_trayicon_tests PROPERTIES TIMEOUT 120 ENVIRONMENT QT_QPA_PLATFORM=offscreen)
