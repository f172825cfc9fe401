# src/window: the top layer, Qt Widgets. The language files and the
# translation of forms, the dialogs, the main window and the program itself;
# its targets see every folder below.
set(_src ${CMAKE_CURRENT_SOURCE_DIR}/src/window)
set(_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/window)

# Language files, the translation of forms through Qt's meta-object system
# (FormTexts walks the widgets, which is why the language files' logic sits
# here and not in src/core), and the template writer.
add_library(sorvex_language STATIC ${_src}/AppLanguage.cpp ${_src}/FormTexts.cpp)
target_include_directories(sorvex_language PUBLIC ${_src})
target_link_libraries(sorvex_language PUBLIC sorvex_messages sorvex_ini sorvex_utils Qt6::Widgets)
# An installed program finds its language files from its own folder: the way
# from the program folder to the shared data folder, as the install lays
# them out, keeps an installed tree movable (and runnable from a staging
# folder).
file(RELATIVE_PATH _share_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/sorvex)
target_compile_definitions(sorvex_language PRIVATE SORVEX_SHARE_FROM_BIN="${_share_from_bin}")

# The shipped language files go into "Languages" beside the program, which is
# built in this folder; the tests beside it read them from there too.
file(GLOB SORVEX_LANGUAGE_FILES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/res/Languages/*.lng)
set(_lang_outputs)
foreach(_lng IN LISTS SORVEX_LANGUAGE_FILES)
  get_filename_component(_name ${_lng} NAME)
  set(_out ${CMAKE_CURRENT_BINARY_DIR}/Languages/${_name})
  add_custom_command(OUTPUT ${_out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/Languages
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_lng} ${_out}
    DEPENDS ${_lng} VERBATIM)
  list(APPEND _lang_outputs ${_out})
endforeach()
add_custom_target(sorvex_language_files ALL DEPENDS ${_lang_outputs})
install(FILES ${SORVEX_LANGUAGE_FILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/sorvex/Languages)

if(BUILD_TESTING)
  add_executable(sorvex_language_tests ${_tests}/AppLanguageTest.cpp ${_tests}/FormTranslateTest.cpp)
  set_target_properties(sorvex_language_tests PROPERTIES AUTOMOC ON)
  target_link_libraries(sorvex_language_tests PRIVATE sorvex_language sorvex_test_support GTest::gtest_main)
  add_dependencies(sorvex_language_tests sorvex_language_files)
  target_compile_definitions(sorvex_language_tests PRIVATE
    SORVEX_TEST_BINDIR="${CMAKE_INSTALL_BINDIR}" SORVEX_TEST_DATADIR="${CMAKE_INSTALL_DATADIR}")
  # Widgets without a display: the offscreen platform.
  gtest_discover_tests(sorvex_language_tests PROPERTIES TIMEOUT 120 ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endif()

# The program's dialogs: settings (with the folder browser), new profile and
# about. Forms only: the settings, profiles and languages they edit are the
# units they link.
add_library(sorvex_dialogs STATIC
  ${_src}/SettingsDialog.cpp
  ${_src}/FolderDialog.cpp
  ${_src}/NewProfile.cpp
  ${_src}/About.cpp
  ${_src}/ProgramIcon.cpp)
target_include_directories(sorvex_dialogs PUBLIC ${_src})
target_link_libraries(sorvex_dialogs PUBLIC
  sorvex_language sorvex_messages sorvex_config sorvex_profile sorvex_utils Qt6::Widgets)
set_target_properties(sorvex_dialogs PROPERTIES AUTOMOC ON)
# The program's icon, the reader's active image: on every window, and in the
# about box, in the sizes of the icon theme's images.
qt_add_resources(sorvex_dialogs sorvex_program_icon PREFIX /program BASE ${CMAKE_CURRENT_SOURCE_DIR}/res/icons
  FILES ${CMAKE_CURRENT_SOURCE_DIR}/res/icons/riENABL.xpm)
target_compile_definitions(sorvex_dialogs PRIVATE SORVEX_ICON_SIZES=${SORVEX_ICON_SIZES_TEXT})

if(BUILD_TESTING)
  add_executable(sorvex_dialogs_tests ${_tests}/DialogsTest.cpp)
  target_link_libraries(sorvex_dialogs_tests PRIVATE sorvex_dialogs sorvex_ini sorvex_test_support GTest::gtest)
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
endif()

# The main window and the program itself. The window's library links no port
# library of its own: the program takes the shared library, the widget tests
# the library's internal core, whose seams (device roots) they set.
add_library(sorvex_mainwin STATIC
  ${_src}/AppDialogs.cpp
  ${_src}/MainForm.cpp
  ${_src}/MainControls.cpp
  ${_src}/MainCards.cpp
  ${_src}/MainFormats.cpp
  ${_src}/MainProfiles.cpp
  ${_src}/MainPorts.cpp
  ${_src}/MainActions.cpp
  ${_src}/MainMenus.cpp
  ${_src}/PageTabs.cpp)
target_include_directories(sorvex_mainwin PUBLIC ${_src} ${PROJECT_SOURCE_DIR}/lib/include)
target_link_libraries(sorvex_mainwin PUBLIC
  sorvex_engine sorvex_language sorvex_messages sorvex_config sorvex_profile sorvex_port
  sorvex_transfer sorvex_transferlog sorvex_x11 sorvex_startup sorvex_dialogs sorvex_utils Qt6::Widgets)
set_target_properties(sorvex_mainwin PROPERTIES AUTOMOC ON)
# The window's five images, drawn for it, under their resource names.
set(SORVEX_ICONS riDISABL riENABL riREFRESHBTN riDELBTN riNEWBTN)
list(TRANSFORM SORVEX_ICONS PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/res/icons/)
list(TRANSFORM SORVEX_ICONS APPEND .xpm)
qt_add_resources(sorvex_mainwin sorvex_icons PREFIX /icons BASE ${CMAKE_CURRENT_SOURCE_DIR}/res/icons
  FILES ${SORVEX_ICONS})

add_executable(sorvex ${_src}/main.cpp)
target_link_libraries(sorvex PRIVATE sorvex_mainwin ylvane)
install(TARGETS sorvex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Installed beside a library folder the loader does not search by itself
# (/usr/local/lib needs ldconfig first, a home prefix is never searched), the
# program finds its library from its own folder; in a system folder it needs
# no search path.
if(NOT "${CMAKE_INSTALL_FULL_LIBDIR}" IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
  file(RELATIVE_PATH _lib_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(sorvex PROPERTIES INSTALL_RPATH "$ORIGIN/${_lib_from_bin}")
endif()

# Offscreen widget tests. The port library's internal core (not the shared
# library) lets them point the device listing at a fixture tree.
if(BUILD_TESTING)
  add_executable(sorvex_mainwin_tests ${_tests}/MainFormTest.cpp)
  target_link_libraries(sorvex_mainwin_tests PRIVATE sorvex_mainwin ylvane_core sorvex_test_support GTest::gtest)
  target_include_directories(sorvex_mainwin_tests PRIVATE ${PROJECT_SOURCE_DIR}/lib/tests/common)
  gtest_discover_tests(sorvex_mainwin_tests PROPERTIES TIMEOUT 120 ENVIRONMENT QT_QPA_PLATFORM=offscreen)

  # The tray icon's image, decided by a fixture device tree (offscreen).
  add_executable(sorvex_trayicon_tests ${_tests}/TrayIconTest.cpp)
  target_link_libraries(sorvex_trayicon_tests PRIVATE sorvex_mainwin ylvane_core sorvex_test_support GTest::gtest)
  target_include_directories(sorvex_trayicon_tests PRIVATE ${PROJECT_SOURCE_DIR}/lib/tests/common)
  gtest_discover_tests(sorvex_trayicon_tests PROPERTIES TIMEOUT 120 ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endif()
