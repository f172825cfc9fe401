# The shared library registers nothing to be destroyed at exit(): the run-time
# runs such destructors before the exit handlers a host registered earlier,
# which may still call the library. A static with a destructor shows as an
# import of __cxa_atexit.
execute_process(COMMAND nm -D --undefined-only ${LIB}
                OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
if(out MATCHES "__cxa_atexit")
  message(FATAL_ERROR "a static of the library has a destructor that runs at exit()")
endif()
message(STATUS "no destructor runs at exit")
