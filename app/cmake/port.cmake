# src/port: the reader port and its reading thread over the port library,
# the identity of the device behind a port, the words for a port that would
# not open, and the hand-over of received bytes to the GUI thread. Its
# targets see src/port, src/core and the port library's headers; nothing of
# the delivery or the window.
set(_src ${CMAKE_CURRENT_SOURCE_DIR}/src/port)
set(_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/port)

# The eventfd-backed event is the library's own small class, compiled here
# too (the shared library keeps its internals hidden). Its folder holds it
# alone, so the rest of the library's insides stay off the include path of
# everything that links the port.
add_library(sorvex_event STATIC ${PROJECT_SOURCE_DIR}/lib/src/sys/event/Event.cpp)
target_include_directories(sorvex_event PUBLIC ${PROJECT_SOURCE_DIR}/lib/src/sys/event)

add_library(sorvex_port STATIC ${_src}/DeviceIdentity.cpp ${_src}/GuiHandOver.cpp ${_src}/ReaderPort.cpp)
target_include_directories(sorvex_port PUBLIC ${_src})
# The port library itself is chosen by what links this: the program takes the
# shared library, tests may take its internal core.
target_include_directories(sorvex_port PUBLIC ${PROJECT_SOURCE_DIR}/lib/include)
target_link_libraries(sorvex_port PUBLIC Qt6::Core sorvex_messages sorvex_event Threads::Threads)

if(BUILD_TESTING)
  add_executable(sorvex_port_tests ${_tests}/ReaderPortTest.cpp)
  target_link_libraries(sorvex_port_tests PRIVATE sorvex_port ylvane sorvex_test_support GTest::gtest)
  target_include_directories(sorvex_port_tests PRIVATE ${PROJECT_SOURCE_DIR}/lib/tests/common)
  gtest_discover_tests(sorvex_port_tests PROPERTIES TIMEOUT 120)
endif()
