# The program's start: its command line and the single-instance handshake.
add_library(sorvex_startup STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/src/MyCmdLineInfo.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/SingleInstance.cpp)
target_include_directories(sorvex_startup PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(sorvex_startup PUBLIC sorvex_utils sorvex_profile Qt6::Network Qt6::Core)
set_target_properties(sorvex_startup PROPERTIES AUTOMOC ON)

add_executable(sorvex_startup_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/StartupTest.cpp)
target_link_libraries(sorvex_startup_tests PRIVATE sorvex_startup GTest::gtest)
gtest_discover_tests(sorvex_startup_tests PROPERTIES TIMEOUT 120)
