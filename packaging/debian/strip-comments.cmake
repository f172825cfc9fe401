# Run by CPack on the package's tree before it is packed (see
# CPACK_PRE_BUILD_SCRIPTS): the stripped program and library also lose the
# sections .comment and .note, as Debian's own packages do. CPack's strip
# keeps them; they hold only the compilers' version strings.
file(GLOB_RECURSE _files LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(_file IN LISTS _files)
  if(IS_SYMLINK "${_file}")
    continue()
  endif()
  file(READ "${_file}" _magic LIMIT 4 HEX)
  if(_magic STREQUAL "7f454c46")  # ELF
    execute_process(COMMAND "${CPACK_SORVEX_STRIP}" --remove-section=.comment --remove-section=.note "${_file}"
                    RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "strip failed on ${_file}")
    endif()
  endif()
endforeach()
