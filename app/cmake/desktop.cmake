# src/desktop: the delivery of a converted text to the desktop. The key plan
# (no display) and the transfer log stand on src/core; the keyboard and
# clipboard delivery (Qt Gui) goes through the X11 layer in src/desktop/x11
# (Xlib, XTest, XKB; kept out of every Qt translation unit), whose target
# sees no folder but its own. Nothing here sees the reader port or the window.
set(_src ${CMAKE_CURRENT_SOURCE_DIR}/src/desktop)
set(_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/desktop)

find_package(X11 REQUIRED)
if(NOT TARGET X11::Xtst)
  message(FATAL_ERROR "the XTest library (libxtst-dev) is missing")
endif()
if(NOT TARGET X11::xcb)
  message(FATAL_ERROR "the XCB library (libxcb1-dev) is missing")
endif()

add_library(sorvex_keyplan STATIC ${_src}/KeyPlan.cpp)
target_include_directories(sorvex_keyplan PUBLIC ${_src})
target_link_libraries(sorvex_keyplan PUBLIC Qt6::Core)

add_library(sorvex_transferlog STATIC ${_src}/TransferLog.cpp)
target_include_directories(sorvex_transferlog PUBLIC ${_src})
target_link_libraries(sorvex_transferlog PUBLIC sorvex_utils sorvex_profile Qt6::Core)

add_library(sorvex_x11 STATIC ${_src}/x11/XDesktop.cpp)
target_include_directories(sorvex_x11 PUBLIC ${_src}/x11)
target_link_libraries(sorvex_x11 PUBLIC X11::X11 X11::Xtst X11::xcb)

add_library(sorvex_transfer STATIC ${_src}/Transfer.cpp)
target_include_directories(sorvex_transfer PUBLIC ${_src})
target_link_libraries(sorvex_transfer PUBLIC Qt6::Gui sorvex_keyplan PRIVATE sorvex_messages sorvex_x11)

if(BUILD_TESTING)
  add_executable(sorvex_transfer_logic_tests ${_tests}/KeyPlanTest.cpp ${_tests}/TransferLogTest.cpp)
  target_link_libraries(sorvex_transfer_logic_tests PRIVATE
    sorvex_keyplan sorvex_transferlog sorvex_test_support GTest::gtest_main)
  gtest_discover_tests(sorvex_transfer_logic_tests PROPERTIES TIMEOUT 120)

  # Without a display: the clipboard on the offscreen platform.
  add_executable(sorvex_transfer_offscreen_tests ${_tests}/TransferOffscreenTest.cpp)
  target_link_libraries(sorvex_transfer_offscreen_tests PRIVATE
    sorvex_transfer sorvex_messages sorvex_test_support GTest::gtest)
  gtest_discover_tests(sorvex_transfer_offscreen_tests PROPERTIES TIMEOUT 120)

  # On a real X server: every test process (and the listing of the tests)
  # runs under an Xvfb of its own, started by the wrapper; the tests' tray
  # holds a tray icon where one is needed.
  add_executable(sorvex_x11_tests ${_tests}/TransferX11Test.cpp)
  target_link_libraries(sorvex_x11_tests PRIVATE
    sorvex_transfer sorvex_x11 sorvex_messages sorvex_x11_recorder sorvex_test_tools Qt6::Widgets GTest::gtest)
  target_compile_definitions(sorvex_x11_tests PRIVATE SORVEX_TRAYHOST="$<TARGET_FILE:sorvex_trayhost>")
  add_dependencies(sorvex_x11_tests sorvex_trayhost)
  set_target_properties(sorvex_x11_tests PROPERTIES
    CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_SOURCE_DIR}/tests/with-xvfb)
  gtest_discover_tests(sorvex_x11_tests PROPERTIES TIMEOUT 120 LABELS x11)
endif()
