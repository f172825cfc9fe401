# uAppUtils: folders, text scanning, autostart, versions, and the format
# argument routines (FmtArgs) that templates and messages are filled by.
add_library(sorvex_utils STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/src/uAppUtils.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/FmtArgs.cpp)
target_include_directories(sorvex_utils PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(sorvex_utils PUBLIC Qt6::Core)
# The program's own version, four parts.
set(_tweak ${PROJECT_VERSION_TWEAK})
if("${_tweak}" STREQUAL "")
  set(_tweak 0)
endif()
target_compile_definitions(sorvex_utils PRIVATE
  SORVEX_VERSION_MAJOR=${PROJECT_VERSION_MAJOR} SORVEX_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  SORVEX_VERSION_PATCH=${PROJECT_VERSION_PATCH} SORVEX_VERSION_TWEAK=${_tweak})

add_executable(sorvex_utils_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/AppUtilsTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/FmtArgsTest.cpp)
target_link_libraries(sorvex_utils_tests PRIVATE sorvex_utils GTest::gtest_main)
target_compile_definitions(sorvex_utils_tests PRIVATE
  SORVEX_VERSION_TEXT="${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${_tweak}")
gtest_discover_tests(sorvex_utils_tests PROPERTIES TIMEOUT 120)
