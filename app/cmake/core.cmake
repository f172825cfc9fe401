# src/core: everything that needs no window and no X11 (Qt Core, and Qt
# Network for the single-instance handshake). Its targets see src/core alone,
# so nothing here can include a header of a higher layer.
set(_src ${CMAKE_CURRENT_SOURCE_DIR}/src/core)
set(_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/core)

# Folders, text scanning, autostart, versions, and the format argument
# routines (FmtArgs) that templates and messages are filled by.
add_library(sorvex_utils STATIC ${_src}/AppUtils.cpp ${_src}/FmtArgs.cpp)
target_include_directories(sorvex_utils PUBLIC ${_src})
target_link_libraries(sorvex_utils PUBLIC Qt6::Core)
# The program's own version, four parts.
set(_tweak ${PROJECT_VERSION_TWEAK})
if("${_tweak}" STREQUAL "")
  set(_tweak 0)
endif()
target_compile_definitions(sorvex_utils PRIVATE
  SORVEX_VERSION_MAJOR=${PROJECT_VERSION_MAJOR} SORVEX_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  SORVEX_VERSION_PATCH=${PROJECT_VERSION_PATCH} SORVEX_VERSION_TWEAK=${_tweak})

if(BUILD_TESTING)
  add_executable(sorvex_utils_tests ${_tests}/AppUtilsTest.cpp ${_tests}/FmtArgsTest.cpp)
  target_link_libraries(sorvex_utils_tests PRIVATE sorvex_utils sorvex_test_support GTest::gtest_main)
  target_compile_definitions(sorvex_utils_tests PRIVATE
    SORVEX_VERSION_TEXT="${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.${_tweak}")
  gtest_discover_tests(sorvex_utils_tests PROPERTIES TIMEOUT 120)
endif()

# INI-file services: the memory-held INI object and the private-profile
# style file access, over one parser and writer, with the byte decoder
# (byte-order mark / UTF-8 / Windows-1251) that language files share.
add_library(sorvex_ini STATIC ${_src}/IniFile.cpp ${_src}/TextCodec.cpp)
target_include_directories(sorvex_ini PUBLIC ${_src})
target_link_libraries(sorvex_ini PUBLIC sorvex_utils Qt6::Core)

if(BUILD_TESTING)
  add_executable(sorvex_ini_tests ${_tests}/IniFileTest.cpp)
  target_link_libraries(sorvex_ini_tests PRIVATE sorvex_ini sorvex_test_support GTest::gtest_main)
  gtest_discover_tests(sorvex_ini_tests PROPERTIES TIMEOUT 120)
endif()

# The program's numbered messages: built-in texts, the one lookup that answers
# the loaded language's texts, and the formatter of translated texts. Qt Core
# only, so that window-free units can show messages.
add_library(sorvex_messages STATIC ${_src}/AppMessages.cpp)
target_include_directories(sorvex_messages PUBLIC ${_src})
target_link_libraries(sorvex_messages PUBLIC sorvex_utils Qt6::Core)

if(BUILD_TESTING)
  add_executable(sorvex_messages_tests ${_tests}/AppMessagesTest.cpp)
  target_link_libraries(sorvex_messages_tests PRIVATE sorvex_messages sorvex_test_support GTest::gtest_main)
  gtest_discover_tests(sorvex_messages_tests PROPERTIES TIMEOUT 120)
endif()

# Card types, format classes, formats and profiles, and the built-in
# standard formats compiled in as the data resource "STDFMTS".
add_library(sorvex_profile STATIC ${_src}/Profiles.cpp)
target_include_directories(sorvex_profile PUBLIC ${_src})
target_link_libraries(sorvex_profile PUBLIC Qt6::Core sorvex_ini sorvex_utils)

set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/res/stdfmts.ini
  PROPERTIES QT_RESOURCE_ALIAS STDFMTS)
qt_add_resources(sorvex_profile sorvex_stdfmts PREFIX /rcdata
  FILES ${CMAKE_CURRENT_SOURCE_DIR}/res/stdfmts.ini)

if(BUILD_TESTING)
  add_executable(sorvex_profile_tests ${_tests}/ProfilesTest.cpp ${_tests}/StdFormatsTest.cpp)
  target_link_libraries(sorvex_profile_tests PRIVATE sorvex_profile sorvex_test_support GTest::gtest_main)
  gtest_discover_tests(sorvex_profile_tests PROPERTIES TIMEOUT 120)
endif()

# The settings file.
add_library(sorvex_config STATIC ${_src}/AppConfig.cpp)
target_include_directories(sorvex_config PUBLIC ${_src})
target_link_libraries(sorvex_config PUBLIC sorvex_ini sorvex_utils sorvex_profile Qt6::Core)

if(BUILD_TESTING)
  add_executable(sorvex_config_tests ${_tests}/AppConfigTest.cpp)
  target_link_libraries(sorvex_config_tests PRIVATE sorvex_config sorvex_test_support GTest::gtest_main)
  gtest_discover_tests(sorvex_config_tests PROPERTIES TIMEOUT 120)
endif()

# The card road without a window: the conversion engine, the card-line parser and the card pipeline.
add_library(sorvex_engine STATIC ${_src}/CardEngine.cpp ${_src}/CardParser.cpp ${_src}/CardPipeline.cpp)
target_include_directories(sorvex_engine PUBLIC ${_src})
target_link_libraries(sorvex_engine PUBLIC sorvex_messages sorvex_profile sorvex_utils Qt6::Core)

if(BUILD_TESTING)
  add_executable(sorvex_engine_tests
    ${_tests}/CardEngineTest.cpp
    ${_tests}/CardParserTest.cpp
    ${_tests}/CardPipelineTest.cpp
    ${_tests}/StdFormatsEngineTest.cpp)
  target_link_libraries(sorvex_engine_tests PRIVATE sorvex_engine sorvex_test_support GTest::gtest_main)
  gtest_discover_tests(sorvex_engine_tests PROPERTIES TIMEOUT 120)
endif()

# The program's start before its window: the command line, the settings
# file it uses, and the single-instance handshake.
add_library(sorvex_startup STATIC ${_src}/CommandLine.cpp ${_src}/SingleInstance.cpp ${_src}/Startup.cpp)
target_include_directories(sorvex_startup PUBLIC ${_src})
target_link_libraries(sorvex_startup PUBLIC sorvex_config sorvex_utils sorvex_profile Qt6::Network Qt6::Core)
set_target_properties(sorvex_startup PROPERTIES AUTOMOC ON)
# "--version" says the version the package and the manual page carry.
target_compile_definitions(sorvex_startup PRIVATE SORVEX_VERSION="${PROJECT_VERSION}")

if(BUILD_TESTING)
  add_executable(sorvex_startup_tests ${_tests}/StartupTest.cpp)
  target_link_libraries(sorvex_startup_tests PRIVATE sorvex_startup sorvex_test_support GTest::gtest)
  gtest_discover_tests(sorvex_startup_tests PROPERTIES TIMEOUT 120)
endif()
