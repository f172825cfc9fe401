# Run by CPack on each package it has made (see CPACK_POST_BUILD_SCRIPTS):
# the control field Installed-Size becomes what dpkg-gencontrol writes, the
# files and links of the tree in KiB, each rounded up, and 1 KiB for each
# folder, the tree's top one included. CPack's own figure counts a folder
# as the 4 KiB it takes on disk and each link to the library as the library
# itself, nearly twice the real size here. The package is unpacked, its
# control file mended and the package made again from the same tree.
foreach(_deb IN LISTS CPACK_PACKAGE_FILES)
  set(_tree "${CPACK_TOPLEVEL_DIRECTORY}/installed-size-tree")
  file(REMOVE_RECURSE "${_tree}")
  execute_process(COMMAND dpkg-deb --raw-extract "${_deb}" "${_tree}" COMMAND_ERROR_IS_FATAL ANY)

  set(_kib 1)
  file(GLOB_RECURSE _entries LIST_DIRECTORIES true "${_tree}/*")
  foreach(_entry IN LISTS _entries)
    file(RELATIVE_PATH _rel "${_tree}" "${_entry}")
    if(_rel STREQUAL "DEBIAN" OR _rel MATCHES "^DEBIAN/")
      continue()
    endif()
    if(IS_SYMLINK "${_entry}")
      file(READ_SYMLINK "${_entry}" _target)
      string(LENGTH "${_target}" _bytes)
    elseif(IS_DIRECTORY "${_entry}")
      math(EXPR _kib "${_kib} + 1")
      continue()
    else()
      file(SIZE "${_entry}" _bytes)
    endif()
    math(EXPR _kib "${_kib} + (${_bytes} + 1023) / 1024")
  endforeach()

  file(READ "${_tree}/DEBIAN/control" _control)
  string(REGEX REPLACE "\nInstalled-Size: [0-9]+\n" "\nInstalled-Size: ${_kib}\n" _mended "${_control}")
  if(_mended STREQUAL _control AND NOT _control MATCHES "\nInstalled-Size: ${_kib}\n")
    message(FATAL_ERROR "${_deb}: no Installed-Size field to mend")
  endif()
  file(WRITE "${_tree}/DEBIAN/control" "${_mended}")
  execute_process(COMMAND dpkg-deb --root-owner-group --build "${_tree}" "${_deb}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${_tree}")
endforeach()
