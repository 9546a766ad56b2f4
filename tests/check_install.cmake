# Installs the native build into a scratch prefix and checks what lands where.
# Usage: cmake -DBUILD=<build folder> -DPREFIX=<scratch prefix> -P check_install.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
set(doc share/doc/tarnwick)
set(expected bin/tarnwick ${doc}/CHANGELOG.md ${doc}/README.md ${doc}/changelog.gz ${doc}/copyright
  ${doc}/doc/deploy.md ${doc}/doc/development.md ${doc}/doc/file-format.md ${doc}/doc/open.md
  ${doc}/doc/windows.md
  ${doc}/examples/tarnwick.desktop share/man/man1/tarnwick.1.gz)
file(GLOB_RECURSE installed RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed: ${installed}\nexpected: ${expected}")
endif()
# The licence travels in the copyright file, as Debian has it.
file(STRINGS ${PREFIX}/${doc}/copyright licence REGEX "^License: Expat$")
if(NOT licence)
  message(FATAL_ERROR "the copyright file does not name the Expat (MIT) licence")
endif()
# The package recommends what opens URLs, folders and documents.
include(${BUILD}/CPackConfig.cmake)
if(NOT CPACK_DEBIAN_PACKAGE_RECOMMENDS STREQUAL "xdg-utils")
  message(FATAL_ERROR "the Debian package does not recommend xdg-utils")
endif()
execute_process(COMMAND ${PREFIX}/bin/tarnwick -v RESULT_VARIABLE status OUTPUT_VARIABLE output
  WORKING_DIRECTORY ${PREFIX})
if(NOT status EQUAL 255 OR NOT output MATCHES "^ERROR: No config file was found")
  message(FATAL_ERROR "the installed program did not run as expected: ${status} ${output}")
endif()
file(REMOVE_RECURSE ${PREFIX})
