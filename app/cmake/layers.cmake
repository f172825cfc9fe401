# The layer rule over the whole of src/: no file includes a header of a
# higher layer, by name or by a path written out.
add_executable(sorvex_layers_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/LayersTest.cpp)
target_link_libraries(sorvex_layers_tests PRIVATE GTest::gtest_main)
target_compile_definitions(sorvex_layers_tests PRIVATE SORVEX_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
gtest_discover_tests(sorvex_layers_tests PROPERTIES TIMEOUT 120)
