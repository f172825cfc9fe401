# The program and the X11 layer under a real window manager (openbox on Xvfb,
# through with-xvfb-wm): frames, placement at every start, icons, and the
# active window.
add_executable(sorvex_wm_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/WindowManagerX11Test.cpp)
target_link_libraries(sorvex_wm_tests PRIVATE sorvex_x11 sorvex_x11_recorder sorvex_test_tools GTest::gtest)
target_compile_definitions(sorvex_wm_tests PRIVATE SORVEX_PROGRAM="$<TARGET_FILE:sorvex>")
add_dependencies(sorvex_wm_tests sorvex)
set_target_properties(sorvex_wm_tests PROPERTIES
  CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_SOURCE_DIR}/tests/with-xvfb-wm)
gtest_discover_tests(sorvex_wm_tests PROPERTIES TIMEOUT 180 LABELS x11)
