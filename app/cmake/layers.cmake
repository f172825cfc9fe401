# The layer rule over the whole of src/: no file includes a header of a
# higher layer, by name or by a path written out; and no target of a layer
# has a folder on its include path (its own or one a library it links hands
# on) that the layer may not use, since the compiler finds any header there
# by its plain name.
set(_layer_targets
  core:sorvex_utils core:sorvex_ini core:sorvex_messages core:sorvex_profile core:sorvex_config
  core:sorvex_engine core:sorvex_startup
  port:sorvex_event port:sorvex_port
  desktop/x11:sorvex_x11
  desktop:sorvex_keyplan desktop:sorvex_transferlog desktop:sorvex_transfer
  window:sorvex_language window:sorvex_dialogs window:sorvex_mainwin window:sorvex)
set(_layer_paths "")
foreach(_entry IN LISTS _layer_targets)
  string(REPLACE ":" ";" _pair ${_entry})
  list(GET _pair 0 _layer)
  list(GET _pair 1 _target)
  # One line per target: its layer, a tab, its include folders (the
  # generator expression follows the libraries it links).
  string(APPEND _layer_paths "app/src/${_layer}\t$<TARGET_PROPERTY:${_target},INCLUDE_DIRECTORIES>\n")
endforeach()
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/layer-include-paths.txt CONTENT "${_layer_paths}")

add_executable(sorvex_layers_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/LayersTest.cpp)
target_link_libraries(sorvex_layers_tests PRIVATE GTest::gtest_main)
target_compile_definitions(sorvex_layers_tests PRIVATE SORVEX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  SORVEX_LAYER_INCLUDE_PATHS="${CMAKE_CURRENT_BINARY_DIR}/layer-include-paths.txt")
gtest_discover_tests(sorvex_layers_tests PROPERTIES TIMEOUT 120)
