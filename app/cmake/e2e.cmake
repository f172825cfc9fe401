# The program end to end: the real binary driven from outside, in the
# surroundings the test tools (testtools.cmake) play.

# The virtual reader of scripts/demo.
add_executable(sorvex_virtual_reader ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/VirtualReaderMain.cpp)
target_link_libraries(sorvex_virtual_reader PRIVATE sorvex_test_tools)

# The real sorvex binary under Xvfb (through with-xvfb, like the X11 tests).
add_executable(sorvex_e2e_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/EndToEndTest.cpp)
target_link_libraries(sorvex_e2e_tests PRIVATE sorvex_test_tools sorvex_x11_recorder GTest::gtest_main)
target_compile_definitions(sorvex_e2e_tests PRIVATE
  SORVEX_PROGRAM="$<TARGET_FILE:sorvex>" SORVEX_VIRTUAL_READER="$<TARGET_FILE:sorvex_virtual_reader>")
add_dependencies(sorvex_e2e_tests sorvex sorvex_virtual_reader)
set_target_properties(sorvex_e2e_tests PROPERTIES
  CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_SOURCE_DIR}/tests/with-xvfb)
gtest_discover_tests(sorvex_e2e_tests PROPERTIES TIMEOUT 180 LABELS x11)
