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

# Stops the release when the step just run failed (`failed`, and `error`, what it said): one line
# that begins with `what`, and the last release stays as it was.
macro(tarnwick_stop_if_failed what)
  if(failed)
    file(REMOVE_RECURSE ${staging})
    file(REMOVE ${CPACK_TARNWICK_PASSWORD_COPIES})
    string(STRIP "${error}" error)
    message(FATAL_ERROR "${what}: ${error}")
  endif()
endmacro()

# Runs a step of the release (`what`: its name) with its arguments, which may end with options of
# execute_process (OUTPUT_FILE, WORKING_DIRECTORY, ...).
function(tarnwick_run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed ERROR_VARIABLE error)
  tarnwick_stop_if_failed("${what}")
endfunction()

# Signs `file` with the deployer's OpenPGP key, if one was given, into `out` (file.asc when not
# given), ASCII-armoured: a detached signature `as` text (SHA256SUMS) or binary, or the file
# `clearsigned`. Without a signature where one was asked for, there is no release.
function(tarnwick_openpgp_sign file as)
  if(NOT CPACK_TARNWICK_OPENPGP_KEY AND NOT CPACK_TARNWICK_GPG_KEY)
    return()
  endif()
  set(out ${file}.asc)
  if(ARGN)
    set(out ${ARGN})
  endif()
  if(CPACK_TARNWICK_OPENPGP_KEY)
    set(sign sign --as=${as})
    if(as STREQUAL clearsigned)
      set(sign inline-sign --as=clearsigned)
    endif()
    # sqop reads its data on standard input, and the password from a file: a copy of the first
    # line of the deployer's file, in the folder only its owner can open, for this one run.
    set(copy)
    if(CPACK_TARNWICK_OPENPGP_PASSWORD)
      file(READ ${CPACK_TARNWICK_OPENPGP_PASSWORD} password)
      string(REGEX MATCH "^[^\r\n]*" password "${password}")
      set(copy ${CPACK_TARNWICK_CHECKS}/TARNWICK_OPENPGP_PASSWORD_FILE)
      file(MAKE_DIRECTORY ${CPACK_TARNWICK_CHECKS})
      file(CHMOD ${CPACK_TARNWICK_CHECKS} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
      file(WRITE ${copy} "${password}")
      list(APPEND sign --with-key-password=${copy})
    endif()
    execute_process(COMMAND sqop ${sign} ${CPACK_TARNWICK_OPENPGP_KEY}
      INPUT_FILE ${file} OUTPUT_FILE ${out} RESULT_VARIABLE failed ERROR_VARIABLE error)
    if(copy)
      file(REMOVE ${copy})
    endif()
  else()
    set(sign --armor --detach-sign)
    if(as STREQUAL clearsigned)
      set(sign --clearsign)
    endif()
    execute_process(COMMAND gpg --batch --yes --local-user ${CPACK_TARNWICK_GPG_KEY} ${sign}
        --output ${out} ${file}
      RESULT_VARIABLE failed ERROR_VARIABLE error)
  endif()
  get_filename_component(name ${out} NAME)
  tarnwick_stop_if_failed("Could not sign ${name}")
endfunction()

if(CPACK_TARNWICK_RELEASE)
  # The release is the folder dist/ and nothing else: its files are gathered in a folder of their
  # own, signed there, and only then put in place of the last release, in one move, so that a step
  # that fails leaves the last release as it was.
  set(dist ${CPACK_PACKAGE_DIRECTORY}/dist)
  set(staging ${dist}.new)
  file(REMOVE_RECURSE ${staging})
  set(version ${CPACK_PACKAGE_VERSION})
  file(COPY ${CPACK_PACKAGE_FILES} DESTINATION ${staging})
  foreach(arch win32 win64)
    file(COPY ${CPACK_PACKAGE_DIRECTORY}/tarnwick-${version}-${arch}.zip
      ${CPACK_PACKAGE_DIRECTORY}/tarnwick-${version}-${arch}.msi DESTINATION ${staging})
  endforeach()
  # What the release was built from, which its check needs to build it again; the sums cover it.
  execute_process(COMMAND git rev-parse HEAD WORKING_DIRECTORY ${CPACK_TARNWICK_SOURCE_DIR}
    OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  include(${CPACK_TARNWICK_SOURCE_DIR}/packaging/checkout.cmake)
  tarnwick_checkout_changes(${CPACK_TARNWICK_SOURCE_DIR} ${CPACK_PACKAGE_DIRECTORY} changed)
  if(NOT commit)
    set(commit "unknown (not a git checkout)")
  elseif(changed AND CPACK_TARNWICK_SIGNED_WITH_KEYS)
    # Changed since the configure step refused it: still no signed release from it.
    set(failed 1)
    string(CONCAT error "the checkout has uncommitted changes (first: ${changed}): a signed release "
      "is built from a commit alone")
    tarnwick_stop_if_failed(Release)
  elseif(changed)
    string(APPEND commit " with uncommitted changes")
  endif()
  # The publisher is in the MSIs and SBOMs, its security contact in the SBOMs and the Debian
  # package: a rebuild needs both to give the same bytes.
  file(WRITE ${staging}/BUILDINFO "Version: ${version}\nCommit: ${commit}\n"
    "SOURCE_DATE_EPOCH: ${CPACK_TARNWICK_EPOCH}\nPublisher: ${CPACK_TARNWICK_PUBLISHER}\n"
    "Security-Contact: ${CPACK_TARNWICK_SECURITY_CONTACT}\n")

  # A bill of materials for each package, made from the build; the sums cover them. Called
  # directly: tarnwick_run's list of arguments would split a publisher at a semicolon.
  execute_process(COMMAND ${CPACK_TARNWICK_PYTHON} ${CPACK_TARNWICK_SOURCE_DIR}/packaging/sbom.py
      ${staging} ${version} "${CPACK_TARNWICK_EPOCH}" ${CPACK_PACKAGE_DIRECTORY}
      ${CPACK_TARNWICK_SOURCE_DIR} "${CPACK_TARNWICK_PUBLISHER}" ${CPACK_TARNWICK_SECURITY_CONTACT}
    RESULT_VARIABLE failed ERROR_VARIABLE error)
  tarnwick_stop_if_failed(SBOM)

  # One checksum file over the whole release, as sha256sum -c reads it.
  file(GLOB release RELATIVE ${staging} ${staging}/*)
  list(SORT release)
  set(sums)
  foreach(name ${release})
    file(SHA256 ${staging}/${name} hash)
    string(APPEND sums "${hash}  ${name}\n")
  endforeach()
  set(sums_file ${staging}/SHA256SUMS)
  file(WRITE ${sums_file} "${sums}")
  # With the deployer's OpenPGP key, a detached, ASCII-armoured signature of the sums beside them.
  tarnwick_openpgp_sign(${sums_file} text)

  # This builder's statement of how the release was made: outside the sums, signed on its own.
  # Called directly, not through tarnwick_run, whose list of arguments would drop an empty one.
  execute_process(COMMAND git remote get-url origin WORKING_DIRECTORY ${CPACK_TARNWICK_SOURCE_DIR}
    OUTPUT_VARIABLE repository OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  set(provenance ${staging}/tarnwick-${version}.intoto.json)
  execute_process(COMMAND ${CPACK_TARNWICK_PYTHON} ${CPACK_TARNWICK_SOURCE_DIR}/packaging/provenance.py
      ${staging} ${provenance} ${version} "${CPACK_TARNWICK_EPOCH}" "${commit}" "${repository}"
      "${CPACK_TARNWICK_BUILDER_ID}" ${CPACK_TARNWICK_COMPILER}
    RESULT_VARIABLE failed ERROR_VARIABLE error)
  tarnwick_stop_if_failed(Provenance)
  tarnwick_openpgp_sign(${provenance} binary)
  # The same Statement in a Sigstore bundle, signed with the Authenticode key (checked by the
  # configure step). The key's URI holds semicolons: passed quoted, never through a list.
  if(CPACK_TARNWICK_BUNDLE_CERT)
    if(NOT EXISTS ${CPACK_TARNWICK_SIGN_PASSWORD})
      set(failed 1)
      set(error "TARNWICK_SIGN_PASSWORD_FILE is gone: ${CPACK_TARNWICK_SIGN_PASSWORD}")
      tarnwick_stop_if_failed("Sigstore bundle")
    endif()
    execute_process(COMMAND ${CPACK_TARNWICK_PYTHON} ${CPACK_TARNWICK_SOURCE_DIR}/packaging/sigstore_bundle.py
        ${CPACK_TARNWICK_BUNDLE_CERT} "${CPACK_TARNWICK_SIGN_PKCS12}" "${CPACK_TARNWICK_SIGN_PKCS11_MODULE}"
        "${CPACK_TARNWICK_SIGN_PKCS11_KEY}" ${CPACK_TARNWICK_SIGN_PASSWORD} ${provenance}
        ${staging}/tarnwick-${version}.intoto.sigstore.json
      RESULT_VARIABLE failed ERROR_VARIABLE error)
    tarnwick_stop_if_failed("Sigstore bundle")
  endif()

  # The channels organisations install from: an APT repository, when the release is signed with
  # OpenPGP; winget manifests, when it is given the address its MSIs will be downloaded from.
  if(CPACK_TARNWICK_OPENPGP_KEY OR CPACK_TARNWICK_GPG_KEY)
    get_filename_component(deb ${CPACK_PACKAGE_FILES} NAME)
    set(deb ${staging}/${deb})
    include(${CPACK_TARNWICK_SOURCE_DIR}/packaging/apt.cmake)
  endif()
  if(CPACK_TARNWICK_DOWNLOAD_URL)
    # Called directly: tarnwick_run's list of arguments would split a publisher at a semicolon.
    execute_process(COMMAND ${CPACK_TARNWICK_PYTHON} ${CPACK_TARNWICK_SOURCE_DIR}/packaging/winget.py
        write ${staging} ${staging}/winget ${version} ${CPACK_TARNWICK_DOWNLOAD_URL}
        "${CPACK_TARNWICK_WINGET_ID}" "${CPACK_TARNWICK_WINGET_PUBLISHER}"
      RESULT_VARIABLE failed ERROR_VARIABLE error)
    tarnwick_stop_if_failed(winget)
  endif()
  file(REMOVE_RECURSE ${dist})
  file(RENAME ${staging} ${dist})
  # The files of what signing needs go with the release's end (and with any stop: see
  # tarnwick_stop_if_failed); the next build's configure step makes them again.
  file(REMOVE ${CPACK_TARNWICK_PASSWORD_COPIES})
endif()
