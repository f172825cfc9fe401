# The card road without a window: the conversion engine, the card-line parser and the card pipeline.
add_library(sorvex_engine STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/src/CardEngine.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/CardParser.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/CardPipeline.cpp)
target_include_directories(sorvex_engine PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(sorvex_engine PUBLIC sorvex_messages sorvex_profile sorvex_utils Qt6::Core)

add_executable(sorvex_engine_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/CardEngineTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/CardParserTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/CardPipelineTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/StdFormatsEngineTest.cpp)
target_link_libraries(sorvex_engine_tests PRIVATE sorvex_engine GTest::gtest_main)
gtest_discover_tests(sorvex_engine_tests PROPERTIES TIMEOUT 120)
