# The release: both Windows packages, built by sub-builds of this source tree with the Windows
# presets, beside the Debian package of this build; the package step gathers them with BUILDINFO
# and SHA256SUMS into build/release/dist/, the folder that is the release.

# Debian's own build flags, hardening included, as a Debian package build uses them.
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
    dpkg-buildflags --get ${kind} OUTPUT_VARIABLE ${kind} OUTPUT_STRIP_TRAILING_WHITESPACE
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
string(APPEND CMAKE_CXX_FLAGS " ${CPPFLAGS} ${CXXFLAGS}")
string(APPEND CMAKE_EXE_LINKER_FLAGS " ${LDFLAGS}")

if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is set, but not to a number of seconds: '$ENV{SOURCE_DATE_EPOCH}'")
endif()
if(NOT TARNWICK_EPOCH)
  message(FATAL_ERROR "A release needs SOURCE_DATE_EPOCH or a git checkout, for its time stamps.")
endif()
# The keys are checked here, before anything is built; the sub-builds get them as they are.
include(${PROJECT_SOURCE_DIR}/packaging/signing.cmake)
# A release names the commit it was built from; changed source is no commit's. A signed release is
# refused from it, before anything is built, so that no signature vouches for it as the commit; an
# unsigned one goes on, and says so.
set(tarnwick_signed_with_keys FALSE)
if(TARNWICK_SIGN_PKCS12 OR TARNWICK_SIGN_PKCS11_MODULE OR TARNWICK_OPENPGP_KEY OR TARNWICK_GPG_KEY)
  set(tarnwick_signed_with_keys TRUE)
endif()
execute_process(COMMAND git status --porcelain --untracked-files=no WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  OUTPUT_VARIABLE changed ERROR_QUIET)
if(changed AND tarnwick_signed_with_keys)
  message(FATAL_ERROR "The checkout has uncommitted changes: a signed release is built from a commit "
    "alone (commit or stash them first)")
elseif(changed)
  message(WARNING "The checkout has uncommitted changes: the release is built from them, so it is no "
    "commit's build (BUILDINFO says so, and the provenance names no commit as its source); a signed "
    "release would be refused")
endif()
set(CPACK_TARNWICK_SIGNED_WITH_KEYS ${tarnwick_signed_with_keys})
set(sign_options)
foreach(setting ${tarnwick_authenticode_settings})
  # Always given, empty when not set, so that no earlier release's key lingers in a sub-build.
  # A PKCS#11 URI holds semicolons, which a command line here must not split.
  string(REPLACE ";" "$<SEMICOLON>" value "${${setting}}")
  list(APPEND sign_options "-D${setting}=${value}")
endforeach()
set(CPACK_TARNWICK_OPENPGP_KEY ${TARNWICK_OPENPGP_KEY})
set(CPACK_TARNWICK_OPENPGP_PASSWORD ${tarnwick_openpgp_password})
set(CPACK_TARNWICK_GPG_KEY ${TARNWICK_GPG_KEY})

# Each from its Windows preset, into a folder of this build, without tests.
set(release_presets windows windows64)
set(release_arches win32 win64)
foreach(preset arch IN ZIP_LISTS release_presets release_arches)
  set(sub ${PROJECT_BINARY_DIR}/${arch})
  set(package tarnwick-${PROJECT_VERSION}-${arch})
  add_custom_target(release_${arch} ALL
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${TARNWICK_EPOCH}
      ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR} --preset ${preset} -B ${sub} -DBUILD_TESTING=OFF
      ${sign_options} -DTARNWICK_SIGNATURES=$<$<BOOL:${TARNWICK_SIGNATURES}>:${TARNWICK_SIGNATURES}/${arch}>
    COMMAND ${CMAKE_COMMAND} --build ${sub}
    COMMAND ${CMAKE_COMMAND} -E chdir ${sub} ${CMAKE_CPACK_COMMAND} -B ${sub}/package
    COMMAND ${CMAKE_COMMAND} -E copy ${sub}/package/${package}.zip ${sub}/package/${package}.msi
      ${PROJECT_BINARY_DIR}
    VERBATIM)
endforeach()
set(CPACK_TARNWICK_RELEASE ON)
set(CPACK_TARNWICK_SOURCE_DIR ${PROJECT_SOURCE_DIR})
# The evidence that goes with the release: an SBOM for each package, and this builder's provenance,
# whose builder is whoever says so (TARNWICK_BUILDER_ID, such as a URI of the build service).
find_program(TARNWICK_PYTHON python3)
if(NOT TARNWICK_PYTHON)
  message(FATAL_ERROR "The release needs python3 (Debian package python3), for its SBOMs and provenance")
endif()
set(CPACK_TARNWICK_PYTHON ${TARNWICK_PYTHON})

# The channels: an APT repository when the release is signed with OpenPGP (earlier releases'
# .deb files from TARNWICK_APT_HISTORY in its pool too), and winget manifests when the release is
# given the address its MSIs will be downloaded from (TARNWICK_DOWNLOAD_URL), under an identifier
# and publisher of the organisation's (TARNWICK_WINGET_ID, TARNWICK_WINGET_PUBLISHER). Read, like
# the keys, by signing.cmake.
if(TARNWICK_OPENPGP_KEY OR TARNWICK_GPG_KEY)
  find_program(APT_FTPARCHIVE apt-ftparchive)
  if(NOT APT_FTPARCHIVE)
    message(FATAL_ERROR "The APT repository of a signed release needs apt-ftparchive (Debian package apt-utils), which is not installed")
  endif()
  if(TARNWICK_APT_HISTORY AND NOT IS_DIRECTORY "${TARNWICK_APT_HISTORY}")
    message(FATAL_ERROR "TARNWICK_APT_HISTORY: no such folder: ${TARNWICK_APT_HISTORY}")
  endif()
  message(STATUS "APT repository: in dist/apt/, signed with the release's OpenPGP key")
else()
  message(STATUS "APT repository: not made (the release is not signed with OpenPGP)")
endif()
if(TARNWICK_DOWNLOAD_URL)
  if(NOT TARNWICK_DOWNLOAD_URL MATCHES "^https://[^ ]+$")
    message(FATAL_ERROR "TARNWICK_DOWNLOAD_URL must be an https:// address: ${TARNWICK_DOWNLOAD_URL}")
  endif()
  find_program(MSIINFO msiinfo)
  if(NOT MSIINFO)
    message(FATAL_ERROR "The winget manifests need msiinfo (Debian package msitools), which is not installed")
  endif()
  if(NOT TARNWICK_WINGET_ID)
    set(TARNWICK_WINGET_ID Tarnwick.Tarnwick)
  endif()
  if(NOT TARNWICK_WINGET_ID MATCHES "^[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)+$")
    message(FATAL_ERROR "TARNWICK_WINGET_ID must be a package identifier such as Example.Tarnwick: ${TARNWICK_WINGET_ID}")
  endif()
  if(NOT TARNWICK_WINGET_PUBLISHER)
    set(TARNWICK_WINGET_PUBLISHER Tarnwick)
  endif()
  message(STATUS "winget: manifests for ${TARNWICK_WINGET_ID} in dist/winget/, the MSIs from ${TARNWICK_DOWNLOAD_URL}")
else()
  message(STATUS "winget: no manifests (no TARNWICK_DOWNLOAD_URL given)")
endif()
foreach(setting ${tarnwick_release_settings})
  set(CPACK_${setting} ${${setting}})
endforeach()
set(CPACK_TARNWICK_COMPILER ${CMAKE_CXX_COMPILER})
