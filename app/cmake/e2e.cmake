# The program end to end, and the tools that play its surroundings: a pty
# as the card reader, another program run and waited for, the user at the
# X server. The demo (scripts/demo) and the benchmarks use them too.
find_package(X11 REQUIRED)

add_library(sorvex_test_tools STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/ChildProcess.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/ProgramHome.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/tools/VirtualReader.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/x11/XDriver.cpp)
target_include_directories(sorvex_test_tools PUBLIC
  ${CMAKE_CURRENT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/lib/tests/common)
target_link_libraries(sorvex_test_tools PUBLIC X11::X11 X11::Xtst)

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
