# uAppConfig: the settings file.
add_library(sorvex_config STATIC ${CMAKE_CURRENT_SOURCE_DIR}/src/uAppConfig.cpp)
target_include_directories(sorvex_config PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(sorvex_config PUBLIC sorvex_ini sorvex_utils sorvex_profile Qt6::Core)

add_executable(sorvex_config_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/AppConfigTest.cpp)
target_link_libraries(sorvex_config_tests PRIVATE sorvex_config GTest::gtest_main)
gtest_discover_tests(sorvex_config_tests PROPERTIES TIMEOUT 120)
