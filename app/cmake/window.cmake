# The main window and the program itself. The window's library links no port
# library of its own: the program takes the shared library, the widget tests
# the library's internal core, whose seams (device roots) they set.
add_library(sorvex_mainwin STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/src/AppDialogs.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/MainForm.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/MainControls.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/MainCards.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/MainFormats.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/MainProfiles.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/MainPorts.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/MainActions.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/MainMenus.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/PageTabs.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/Startup.cpp)
target_include_directories(sorvex_mainwin PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/lib/include)
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

add_executable(sorvex ${CMAKE_CURRENT_SOURCE_DIR}/src/main.cpp)
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
add_executable(sorvex_mainwin_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/MainFormTest.cpp)
target_link_libraries(sorvex_mainwin_tests PRIVATE sorvex_mainwin ylvane_core GTest::gtest)
target_include_directories(sorvex_mainwin_tests PRIVATE ${PROJECT_SOURCE_DIR}/lib/tests/common)
gtest_discover_tests(sorvex_mainwin_tests PROPERTIES TIMEOUT 120 ENVIRONMENT QT_QPA_PLATFORM=offscreen)
