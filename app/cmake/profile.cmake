# uProfile: card types, format classes, formats and profiles.
add_library(sorvex_profile STATIC ${CMAKE_CURRENT_SOURCE_DIR}/src/uProfile.cpp)
target_include_directories(sorvex_profile PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(sorvex_profile PUBLIC Qt6::Core sorvex_ini sorvex_utils)

add_executable(sorvex_profile_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/ProfileTest.cpp)
target_link_libraries(sorvex_profile_tests PRIVATE sorvex_profile GTest::gtest_main)
gtest_discover_tests(sorvex_profile_tests PROPERTIES TIMEOUT 120)
