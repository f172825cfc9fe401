# INI-file services: the memory-held INI object and the private-profile
# style file access, over one parser and writer, with the byte decoder
# (byte-order mark / UTF-8 / Windows-1251) that language files share.
add_library(sorvex_ini STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/src/IniFile.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/TextCodec.cpp)
target_include_directories(sorvex_ini PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(sorvex_ini PUBLIC sorvex_utils Qt6::Core)

add_executable(sorvex_ini_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/IniFileTest.cpp)
target_link_libraries(sorvex_ini_tests PRIVATE sorvex_ini GTest::gtest_main)
gtest_discover_tests(sorvex_ini_tests PROPERTIES TIMEOUT 120)
