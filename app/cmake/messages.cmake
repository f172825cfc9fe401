# The program's numbered messages: built-in texts, the one lookup that answers
# the loaded language's texts, and the formatter of translated texts. Qt Core
# only, so that window-free units can show messages.
add_library(sorvex_messages STATIC ${CMAKE_CURRENT_SOURCE_DIR}/src/AppMessages.cpp)
target_include_directories(sorvex_messages PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(sorvex_messages PUBLIC sorvex_utils Qt6::Core)

add_executable(sorvex_messages_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/AppMessagesTest.cpp)
target_link_libraries(sorvex_messages_tests PRIVATE sorvex_messages GTest::gtest_main)
gtest_discover_tests(sorvex_messages_tests PROPERTIES TIMEOUT 120)
