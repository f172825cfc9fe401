# uProfile: card types, format classes, formats and profiles, and the
# built-in standard formats compiled in as the data resource "STDFMTS".
add_library(sorvex_profile STATIC ${CMAKE_CURRENT_SOURCE_DIR}/src/uProfile.cpp)
target_include_directories(sorvex_profile PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(sorvex_profile PUBLIC Qt6::Core sorvex_ini sorvex_utils)

set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/res/stdfmts.ini
  PROPERTIES QT_RESOURCE_ALIAS STDFMTS)
qt_add_resources(sorvex_profile sorvex_stdfmts PREFIX /rcdata
  FILES ${CMAKE_CURRENT_SOURCE_DIR}/res/stdfmts.ini)

add_executable(sorvex_profile_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/ProfileTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/StdFormatsTest.cpp)
target_link_libraries(sorvex_profile_tests PRIVATE sorvex_profile GTest::gtest_main)
gtest_discover_tests(sorvex_profile_tests PROPERTIES TIMEOUT 120)
