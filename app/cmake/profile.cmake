# uProfile: card types, format classes, formats and profiles.
add_library(sorvex_profile STATIC ${CMAKE_CURRENT_SOURCE_DIR}/src/uProfile.cpp)
target_include_directories(sorvex_profile PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(sorvex_profile PUBLIC Qt6::Core)
