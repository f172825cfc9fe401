# Delivery of the converted text: the key plan (no display), the transfer
# log, and (in x11.cmake) the X11 layer and the keyboard and clipboard
# delivery over it.
add_library(sorvex_keyplan STATIC ${CMAKE_CURRENT_SOURCE_DIR}/src/KeyPlan.cpp)
target_include_directories(sorvex_keyplan PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(sorvex_keyplan PUBLIC Qt6::Core)

add_library(sorvex_transferlog STATIC ${CMAKE_CURRENT_SOURCE_DIR}/src/TransferLog.cpp)
target_include_directories(sorvex_transferlog PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(sorvex_transferlog PUBLIC sorvex_utils sorvex_profile Qt6::Core)

add_executable(sorvex_transfer_logic_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/KeyPlanTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/TransferLogTest.cpp)
target_link_libraries(sorvex_transfer_logic_tests PRIVATE
  sorvex_keyplan sorvex_transferlog GTest::gtest_main)
gtest_discover_tests(sorvex_transfer_logic_tests PROPERTIES TIMEOUT 120)
