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
elseif(CPACK_TARNWICK_RELEASE)
  # One checksum file over the whole release, as sha256sum -c reads it.
  file(GLOB release RELATIVE ${CPACK_PACKAGE_DIRECTORY} ${CPACK_PACKAGE_DIRECTORY}/tarnwick-*.zip
    ${CPACK_PACKAGE_DIRECTORY}/tarnwick-*.msi ${CPACK_PACKAGE_DIRECTORY}/tarnwick_*.deb)
  list(SORT release)
  set(sums)
  foreach(file ${release})
    file(SHA256 ${CPACK_PACKAGE_DIRECTORY}/${file} hash)
    string(APPEND sums "${hash}  ${file}\n")
  endforeach()
  file(WRITE ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS "${sums}")
endif()
