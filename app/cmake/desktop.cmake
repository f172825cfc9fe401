# The X11 layer (Xlib, XTest, XKB; kept out of every Qt translation unit)
# and the keyboard and clipboard delivery over it.
find_package(X11 REQUIRED)
if(NOT TARGET X11::Xtst)
  message(FATAL_ERROR "the XTest library (libxtst-dev) is missing")
endif()
if(NOT TARGET X11::xcb)
  message(FATAL_ERROR "the XCB library (libxcb1-dev) is missing")
endif()

add_library(sorvex_x11 STATIC ${CMAKE_CURRENT_SOURCE_DIR}/src/x11/XDesktop.cpp)
target_include_directories(sorvex_x11 PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(sorvex_x11 PUBLIC X11::X11 X11::Xtst X11::xcb)

add_library(sorvex_transfer STATIC ${CMAKE_CURRENT_SOURCE_DIR}/src/Transfer.cpp)
target_include_directories(sorvex_transfer PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(sorvex_transfer PUBLIC Qt6::Gui sorvex_keyplan PRIVATE sorvex_x11)

# Without a display: the clipboard on the offscreen platform.
add_executable(sorvex_transfer_offscreen_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/TransferOffscreenTest.cpp)
target_link_libraries(sorvex_transfer_offscreen_tests PRIVATE sorvex_transfer GTest::gtest)
gtest_discover_tests(sorvex_transfer_offscreen_tests PROPERTIES TIMEOUT 120)

# On a real X server: every test process (and the listing of the tests)
# runs under an Xvfb of its own, started by the wrapper.
add_library(sorvex_x11_recorder STATIC ${CMAKE_CURRENT_SOURCE_DIR}/tests/x11/XRecorder.cpp)
target_include_directories(sorvex_x11_recorder PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/tests)
target_link_libraries(sorvex_x11_recorder PUBLIC X11::X11 Threads::Threads)

add_executable(sorvex_x11_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/TransferX11Test.cpp)
target_link_libraries(sorvex_x11_tests PRIVATE
  sorvex_transfer sorvex_x11 sorvex_x11_recorder Qt6::Widgets GTest::gtest)
set_target_properties(sorvex_x11_tests PROPERTIES
  CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_SOURCE_DIR}/tests/with-xvfb)
gtest_discover_tests(sorvex_x11_tests PROPERTIES TIMEOUT 120 LABELS x11)
