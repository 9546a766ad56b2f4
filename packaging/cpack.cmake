# Read by CPack twice: as the project's CPack configuration, before any package is written, and
# as the script run after them (when CPACK_PACKAGE_FILES lists what was written).
if(NOT DEFINED CPACK_PACKAGE_FILES)
  # The archive generators take every file time from it.
  if(CPACK_TARNWICK_EPOCH)
    set(ENV{SOURCE_DATE_EPOCH} ${CPACK_TARNWICK_EPOCH})
  endif()
  return()
endif()

if(CPACK_GENERATOR STREQUAL "ZIP")
  # CPack writes the zip's entries in the order the file system lists them, which another file
  # system may not share: write it again in name order, so that every machine gives the same bytes.
  file(GLOB_RECURSE entries RELATIVE ${CPACK_TEMPORARY_DIRECTORY} ${CPACK_TEMPORARY_DIRECTORY}/*)
  list(SORT entries)
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${CPACK_PACKAGE_FILES} --format=zip -- ${entries}
    WORKING_DIRECTORY ${CPACK_TEMPORARY_DIRECTORY} COMMAND_ERROR_IS_FATAL ANY)
endif()

if(CPACK_TARNWICK_MSI)
  # The MSI, built with the programs, goes beside the zip.
  file(COPY ${CPACK_TARNWICK_MSI} DESTINATION ${CPACK_PACKAGE_DIRECTORY})
endif()

if(CPACK_TARNWICK_RELEASE)
  # One checksum file over the whole release, as sha256sum -c reads it: the Windows packages
  # already there, and the package just written (still in CPack's own folder).
  file(GLOB release ${CPACK_PACKAGE_DIRECTORY}/tarnwick-*.zip ${CPACK_PACKAGE_DIRECTORY}/tarnwick-*.msi)
  list(APPEND release ${CPACK_PACKAGE_FILES})
  list(LENGTH release count)
  if(NOT count EQUAL 5)
    message(FATAL_ERROR "The release needs two zips, two MSIs and the Debian package: ${release}")
  endif()
  list(SORT release)
  set(sums)
  foreach(file ${release})
    file(SHA256 ${file} hash)
    get_filename_component(name ${file} NAME)
    string(APPEND sums "${hash}  ${name}\n")
  endforeach()
  set(sums_file ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS)
  file(WRITE ${sums_file} "${sums}")
  # With the deployer's OpenPGP key, a detached, ASCII-armoured signature of the sums beside them.
  file(REMOVE ${sums_file}.asc)
  if(CPACK_TARNWICK_OPENPGP_KEY)
    execute_process(COMMAND sqop sign --as=text ${CPACK_TARNWICK_OPENPGP_KEY} INPUT_FILE ${sums_file}
      OUTPUT_FILE ${sums_file}.asc RESULT_VARIABLE failed ERROR_VARIABLE error)
  elseif(CPACK_TARNWICK_GPG_KEY)
    execute_process(COMMAND gpg --batch --yes --local-user ${CPACK_TARNWICK_GPG_KEY} --armor
        --detach-sign --output ${sums_file}.asc ${sums_file}
      RESULT_VARIABLE failed ERROR_VARIABLE error)
  endif()
  if(failed)
    # No sums without their signature, when one was asked for.
    file(REMOVE ${sums_file} ${sums_file}.asc)
    string(STRIP "${error}" error)
    message(FATAL_ERROR "Could not sign SHA256SUMS: ${error}")
  endif()
endif()
