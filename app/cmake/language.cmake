# uAppLanguage: language files, the translation of forms through Qt's
# meta-object system, and the template writer.
add_library(sorvex_language STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/src/uAppLanguage.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/src/FormTexts.cpp)
target_include_directories(sorvex_language PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/src)
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

add_executable(sorvex_language_tests
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/AppLanguageTest.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/tests/FormTranslateTest.cpp)
set_target_properties(sorvex_language_tests PROPERTIES AUTOMOC ON)
target_link_libraries(sorvex_language_tests PRIVATE sorvex_language GTest::gtest_main)
add_dependencies(sorvex_language_tests sorvex_language_files)
target_compile_definitions(sorvex_language_tests PRIVATE
  SORVEX_TEST_BINDIR="${CMAKE_INSTALL_BINDIR}" SORVEX_TEST_DATADIR="${CMAKE_INSTALL_DATADIR}")
# Widgets without a display: the offscreen platform.
gtest_discover_tests(sorvex_language_tests PROPERTIES TIMEOUT 120 ENVIRONMENT QT_QPA_PLATFORM=offscreen)
