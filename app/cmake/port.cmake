# uPort: the reader port and its reading thread, over the port library, and
# the words for a port that would not open.
# The eventfd-backed event is the library's own small class, compiled here
# too (the shared library keeps its internals hidden).
add_library(sorvex_event STATIC ${PROJECT_SOURCE_DIR}/lib/src/sys/Event.cpp)
target_include_directories(sorvex_event PUBLIC ${PROJECT_SOURCE_DIR}/lib/src)

add_library(sorvex_port STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/src/DeviceIdentity.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/GuiHandOver.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/uPort.cpp)
target_include_directories(sorvex_port PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
# The port library itself is chosen by what links this: the program takes the
# shared library, tests may take its internal core.
target_include_directories(sorvex_port PUBLIC ${PROJECT_SOURCE_DIR}/lib/include)
target_link_libraries(sorvex_port PUBLIC Qt6::Core sorvex_messages sorvex_event Threads::Threads)

add_executable(sorvex_port_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/PortTest.cpp)
target_link_libraries(sorvex_port_tests PRIVATE sorvex_port ylvane GTest::gtest)
target_include_directories(sorvex_port_tests PRIVATE ${PROJECT_SOURCE_DIR}/lib/tests/common)
gtest_discover_tests(sorvex_port_tests PROPERTIES TIMEOUT 120)
