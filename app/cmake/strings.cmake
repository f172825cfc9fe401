# AppStrings: the program's own numbered messages.
add_library(sorvex_strings STATIC ${CMAKE_CURRENT_SOURCE_DIR}/src/AppStrings.cpp)
target_include_directories(sorvex_strings PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(sorvex_strings PUBLIC Qt6::Core)
