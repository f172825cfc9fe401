# The program's dialogs: settings (with the folder browser), new profile and
# about. Forms only: the settings, profiles and languages they edit are the
# units they link.
add_library(sorvex_dialogs STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/src/uSettingsDlg.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/FolderDialog.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/NewProfile.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/About.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/ProgramIcon.cpp)
target_include_directories(sorvex_dialogs PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(sorvex_dialogs PUBLIC
  sorvex_language sorvex_messages sorvex_config sorvex_profile sorvex_utils Qt6::Widgets)
set_target_properties(sorvex_dialogs PROPERTIES AUTOMOC ON)
# The program's icon, the reader's active image: on every window, and in the
# about box.
qt_add_resources(sorvex_dialogs sorvex_program_icon PREFIX /program BASE ${CMAKE_CURRENT_SOURCE_DIR}/res/icons
  FILES ${CMAKE_CURRENT_SOURCE_DIR}/res/icons/riENABL.xpm)

add_executable(sorvex_dialogs_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/DialogsTest.cpp)
target_link_libraries(sorvex_dialogs_tests PRIVATE sorvex_dialogs sorvex_ini GTest::gtest)
add_dependencies(sorvex_dialogs_tests sorvex_language_files)
# The version the about box must show: the project's, four parts.
set(_dialogs_version ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
if("${PROJECT_VERSION_TWEAK}" STREQUAL "")
  string(APPEND _dialogs_version .0)
else()
  string(APPEND _dialogs_version .${PROJECT_VERSION_TWEAK})
endif()
target_compile_definitions(sorvex_dialogs_tests PRIVATE SORVEX_VERSION_TEXT="${_dialogs_version}")
set_target_properties(sorvex_dialogs_tests PROPERTIES AUTOMOC ON)
gtest_discover_tests(sorvex_dialogs_tests PROPERTIES TIMEOUT 120 ENVIRONMENT QT_QPA_PLATFORM=offscreen)
