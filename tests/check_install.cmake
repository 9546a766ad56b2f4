# Installs the native build into a scratch prefix and checks what lands where.
# Usage: cmake -DBUILD=<build folder> -DPREFIX=<scratch prefix> -P check_install.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
set(expected bin/tarnwick share/doc/tarnwick/README.md share/doc/tarnwick/tarnwick.desktop
  share/man/man1/tarnwick.1)
file(GLOB_RECURSE installed RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed: ${installed}\nexpected: ${expected}")
endif()
execute_process(COMMAND ${PREFIX}/bin/tarnwick -v RESULT_VARIABLE status OUTPUT_VARIABLE output
  WORKING_DIRECTORY ${PREFIX})
if(NOT status EQUAL 255 OR NOT output MATCHES "^ERROR: No config file was found")
  message(FATAL_ERROR "the installed program did not run as expected: ${status} ${output}")
endif()
file(REMOVE_RECURSE ${PREFIX})
