# Release artifacts carry the commit's time, not the build's, so that the same commit gives the
# same bytes: SOURCE_DATE_EPOCH when the caller sets it, else the time of the commit.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(TARNWICK_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE TARNWICK_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT TARNWICK_EPOCH MATCHES "^[0-9]+$")
  message(STATUS "Neither SOURCE_DATE_EPOCH nor a git commit gives a time: packages carry build times")
  set(TARNWICK_EPOCH)
endif()
set(CPACK_TARNWICK_EPOCH ${TARNWICK_EPOCH})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/cpack.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/cpack.cmake)
