# Read by CPack twice: as the project's CPack configuration, before any package is written, and
# as the script run after them (when CPACK_PACKAGE_FILES lists what was written).
if(NOT DEFINED CPACK_PACKAGE_FILES)
  # The archive generators take every file time from it.
  if(CPACK_TARNWICK_EPOCH)
    set(ENV{SOURCE_DATE_EPOCH} ${CPACK_TARNWICK_EPOCH})
  endif()
elseif(CPACK_TARNWICK_MSI)
  # The MSI, built with the programs, goes beside the zip.
  file(COPY ${CPACK_TARNWICK_MSI} DESTINATION ${CPACK_PACKAGE_DIRECTORY})
endif()
