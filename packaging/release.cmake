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
# Every setting is read and checked here, once, before anything is built.
include(${PROJECT_SOURCE_DIR}/packaging/signing.cmake)
# A release names the commit it was built from; changed source is no commit's, nor is a tree with
# a file the commit lacks (checkout.cmake). A signed release is refused from it, before anything
# is built, so that no signature vouches for it as the commit; an unsigned one goes on, and says
# so. (The release is built in the checkout, where its settings' paths are taken from, rather than
# in a clone of its own: the package step asks again, and the release check rebuilds it from a
# clone.)
set(tarnwick_signed_with_keys FALSE)
if(TARNWICK_SIGN_PKCS12 OR TARNWICK_SIGN_PKCS11_MODULE OR TARNWICK_OPENPGP_KEY OR TARNWICK_GPG_KEY)
  set(tarnwick_signed_with_keys TRUE)
endif()
include(${PROJECT_SOURCE_DIR}/packaging/checkout.cmake)
tarnwick_checkout_changes(${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR} changed)
string(CONCAT what "uncommitted changes (first: ${changed}; a change counts wherever git is told "
  "not to look, and so does a file the commit lacks, untracked or ignored)")
if(changed AND tarnwick_signed_with_keys)
  tarnwick_refuse("The checkout has ${what}: a signed release is built from a commit alone (commit, "
    "stash or remove them first, or build from a fresh clone)")
elseif(changed)
  message(WARNING "The checkout has ${what}: the release is built from them, so it is no commit's "
    "build (BUILDINFO says so, and the provenance names no commit as its source); a signed release "
    "would be refused")
endif()
set(CPACK_TARNWICK_SIGNED_WITH_KEYS ${tarnwick_signed_with_keys})
set(CPACK_TARNWICK_OPENPGP_KEY ${TARNWICK_OPENPGP_KEY})
set(CPACK_TARNWICK_OPENPGP_PASSWORD ${tarnwick_openpgp_password})
set(CPACK_TARNWICK_GPG_KEY ${TARNWICK_GPG_KEY})

# Who publishes the release: the supplier and author of its SBOMs, the Manufacturer of its MSIs
# (the publisher Windows' Apps list shows) and winget's publisher. The MSIs' tables have the
# neutral code page, which holds ASCII alone: any other character would be lost or changed there.
include(${PROJECT_SOURCE_DIR}/packaging/publisher.cmake)
# winget's manifests, which repeat the Manufacturer, take 256 characters at most.
string(LENGTH "${TARNWICK_PUBLISHER}" length)
if(NOT TARNWICK_PUBLISHER MATCHES "^[ -~]+$" OR length GREATER 256)
  # Not repeated: a control character would reach the terminal.
  message(FATAL_ERROR "TARNWICK_PUBLISHER must be 1 to 256 printable ASCII characters (letters, digits, spaces, punctuation): the MSI's Manufacturer holds nothing else")
endif()
message(STATUS "Publisher: ${TARNWICK_PUBLISHER}")
# The security contact, in the SBOMs as a mailto: address and in the Debian package's Maintainer:
# an address both read as it stands.
string(LENGTH "${TARNWICK_SECURITY_CONTACT}" length)
if(NOT TARNWICK_SECURITY_CONTACT MATCHES "^[A-Za-z0-9._+-]+@[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+)+$" OR length GREATER 254)
  # Not repeated, as the publisher is not.
  message(FATAL_ERROR "TARNWICK_SECURITY_CONTACT must be an email address (letters, digits and . _ + - before the @, a domain name after it, 254 characters at most), where the publisher takes reports of vulnerabilities")
elseif(TARNWICK_SECURITY_CONTACT STREQUAL tarnwick_no_contact)
  message(STATUS "Security contact: none given (TARNWICK_SECURITY_CONTACT): the SBOMs and the Debian package name ${tarnwick_no_contact}, which reaches no one")
else()
  message(STATUS "Security contact: ${TARNWICK_SECURITY_CONTACT}")
endif()

# Each from its Windows preset, into a folder of this build, without tests.
set(release_presets windows windows64)
set(release_arches win32 win64)
# Each is handed what signing needs as a file of its own (the release's own signatures, when
# verifying, are kept by architecture), always, so that no earlier release's key lingers in it; it
# reads no setting itself.
foreach(preset arch IN ZIP_LISTS release_presets release_arches)
  set(sub ${PROJECT_BINARY_DIR}/${arch})
  set(package tarnwick-${PROJECT_VERSION}-${arch})
  set(signatures)
  if(TARNWICK_SIGNATURES)
    set(signatures ${TARNWICK_SIGNATURES}/${arch})
  endif()
  tarnwick_signing_settings(${PROJECT_BINARY_DIR}/signing-settings-${arch}.cmake "${signatures}")
  add_custom_target(release_${arch} ALL
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${TARNWICK_EPOCH}
      ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR} --preset ${preset} -B ${sub} -DBUILD_TESTING=OFF
      -DTARNWICK_SIGNING_SETTINGS=${tarnwick_settings_file} -DTARNWICK_PUBLISHER=${tarnwick_publisher_argument}
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
# The provenance also as a Sigstore bundle, signed with the Authenticode key (a rebuild that puts
# the release's own signatures back signs nothing). A key that Sigstore's verifier cannot check,
# or one that does not sign for its certificate, stops the release here, before anything is built.
# (The token's key URI holds semicolons: passed quoted, never through a list.)
set(CPACK_TARNWICK_BUNDLE_CERT)
if((TARNWICK_SIGN_PKCS12 OR TARNWICK_SIGN_PKCS11_MODULE) AND NOT TARNWICK_SIGNATURES)
  set(CPACK_TARNWICK_BUNDLE_CERT ${TARNWICK_SIGN_CERTS})
  if(TARNWICK_SIGN_PKCS12)
    set(CPACK_TARNWICK_BUNDLE_CERT ${tarnwick_checks}/signer.pem)
  endif()
  execute_process(COMMAND ${TARNWICK_PYTHON} ${PROJECT_SOURCE_DIR}/packaging/sigstore_bundle.py
      ${CPACK_TARNWICK_BUNDLE_CERT} "${TARNWICK_SIGN_PKCS12}" "${TARNWICK_SIGN_PKCS11_MODULE}"
      "${TARNWICK_SIGN_PKCS11_KEY}" ${TARNWICK_SIGN_PASSWORD_FILE}
    RESULT_VARIABLE failed ERROR_VARIABLE said)
  if(failed)
    string(STRIP "${said}" said)
    tarnwick_refuse("${said}")
  endif()
  foreach(setting TARNWICK_SIGN_PKCS12 TARNWICK_SIGN_PKCS11_MODULE TARNWICK_SIGN_PKCS11_KEY)
    set(CPACK_${setting} "${${setting}}")
  endforeach()
  set(CPACK_TARNWICK_SIGN_PASSWORD ${TARNWICK_SIGN_PASSWORD_FILE})
  message(STATUS "Sigstore bundle: the provenance signed with the Authenticode key")
else()
  message(STATUS "Sigstore bundle: not made (no Authenticode key given)")
endif()

# The channels: an APT repository when the release is signed with OpenPGP (earlier releases'
# .deb files from TARNWICK_APT_HISTORY in its pool too), and winget manifests when the release is
# given the address of the folder its MSIs will be downloaded from (TARNWICK_DOWNLOAD_URL), under
# an identifier of the organisation's (TARNWICK_WINGET_ID) and the release's publisher (or
# TARNWICK_WINGET_PUBLISHER, where winget's must differ). Read, like the keys, by signing.cmake.
if(TARNWICK_OPENPGP_KEY OR TARNWICK_GPG_KEY)
  find_program(APT_FTPARCHIVE apt-ftparchive)
  if(NOT APT_FTPARCHIVE)
    message(FATAL_ERROR "The APT repository of a signed release needs apt-ftparchive (Debian package apt-utils), which is not installed")
  endif()
  if(TARNWICK_APT_HISTORY AND NOT IS_DIRECTORY "${TARNWICK_APT_HISTORY}")
    message(FATAL_ERROR "TARNWICK_APT_HISTORY: no such folder: ${TARNWICK_APT_HISTORY}")
  endif()
  # In earlier releases the history was a folder of .deb files, such as the served pool; it is now the
  # repository whose signed index says which of them the key signed.
  if(TARNWICK_APT_HISTORY AND NOT EXISTS "${TARNWICK_APT_HISTORY}/dists/stable/InRelease")
    set(instead "the last release's apt/ folder (the published repository)")
    if(TARNWICK_APT_HISTORY MATCHES "^(.+)/pool/main/t/tarnwick/*$")
      set(instead "${CMAKE_MATCH_1}")
    endif()
    message(FATAL_ERROR "TARNWICK_APT_HISTORY must be an earlier release's APT repository, with its "
      "dists/stable/InRelease, not a folder of .deb files: give ${instead}")
  endif()
  message(STATUS "APT repository: in dist/apt/, signed with the release's OpenPGP key")
else()
  message(STATUS "APT repository: not made (the release is not signed with OpenPGP)")
endif()
# The builders' agreement that apt can check with apt-transport-in-toto: an in-toto layout, signed
# with the release's key, by which TARNWICK_INTOTO_THRESHOLD of the builders whose certificates are
# in TARNWICK_INTOTO_BUILDERS must have recorded the same bytes, until TARNWICK_INTOTO_EXPIRES. It
# is made once now, into this build's own folder, so that a key in-toto cannot use, a certificate,
# the number or the day is refused before anything is built; the package step makes it again, into
# dist/apt/. in-toto takes the key as a file: gpg's own is exported for it into that folder. The
# script runs as it says, on Debian's python3, whose in-toto modules it needs.
set(tarnwick_intoto_settings TARNWICK_INTOTO_BUILDERS TARNWICK_INTOTO_THRESHOLD TARNWICK_INTOTO_EXPIRES)
foreach(setting ${tarnwick_intoto_settings})
  if(NOT ${setting} AND (TARNWICK_INTOTO_BUILDERS OR TARNWICK_INTOTO_THRESHOLD OR TARNWICK_INTOTO_EXPIRES))
    tarnwick_refuse("${setting} is not set: TARNWICK_INTOTO_BUILDERS, TARNWICK_INTOTO_THRESHOLD and "
      "TARNWICK_INTOTO_EXPIRES make the layout together")
  endif()
endforeach()
set(CPACK_TARNWICK_INTOTO_KEY ${TARNWICK_OPENPGP_KEY})
if(TARNWICK_INTOTO_BUILDERS AND NOT TARNWICK_OPENPGP_KEY AND NOT TARNWICK_GPG_KEY)
  tarnwick_refuse("TARNWICK_INTOTO_BUILDERS needs the release's OpenPGP key (TARNWICK_OPENPGP_KEY or "
    "TARNWICK_GPG_KEY): the layout is signed with it, and ships with the APT repository")
elseif(TARNWICK_INTOTO_BUILDERS)
  if(NOT TARNWICK_OPENPGP_KEY)
    set(CPACK_TARNWICK_INTOTO_KEY ${tarnwick_checks}/intoto-key.asc)
    execute_process(COMMAND gpg --batch --armor --export-secret-keys ${TARNWICK_GPG_KEY}
      OUTPUT_FILE ${CPACK_TARNWICK_INTOTO_KEY} ERROR_QUIET)
    # Gone at the end of the release, like the passwords' copies: a build after that makes it again.
    set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CPACK_TARNWICK_INTOTO_KEY})
  endif()
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/packaging/release_check.py layout
      ${TARNWICK_INTOTO_BUILDERS} ${TARNWICK_INTOTO_THRESHOLD} ${TARNWICK_INTOTO_EXPIRES}
      ${CPACK_TARNWICK_INTOTO_KEY} ${tarnwick_checks}/probe.layout
    RESULT_VARIABLE failed OUTPUT_VARIABLE said ERROR_VARIABLE said)
  string(REGEX REPLACE ".*\n(.)" "\\1" said "${said}")
  string(STRIP "${said}" said)
  if(failed)
    tarnwick_refuse("No in-toto layout for the APT repository: ${said}")
  endif()
  message(STATUS "in-toto: the APT repository ships a layout, signed with the release's key: ${said}")
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
    set(TARNWICK_WINGET_PUBLISHER "${TARNWICK_PUBLISHER}")
  endif()
  # Every value winget's schemas constrain, checked now rather than after the build.
  execute_process(COMMAND ${TARNWICK_PYTHON} ${PROJECT_SOURCE_DIR}/packaging/winget.py check
      ${PROJECT_VERSION} ${TARNWICK_DOWNLOAD_URL} "${TARNWICK_WINGET_ID}" "${TARNWICK_WINGET_PUBLISHER}"
    RESULT_VARIABLE failed ERROR_VARIABLE said)
  if(failed)
    string(STRIP "${said}" said)
    message(FATAL_ERROR "${said}")
  endif()
  message(STATUS "winget: manifests for ${TARNWICK_WINGET_ID} in dist/winget/, the MSIs from ${TARNWICK_DOWNLOAD_URL}")
else()
  message(STATUS "winget: no manifests (no TARNWICK_DOWNLOAD_URL given)")
endif()
foreach(setting ${tarnwick_release_settings})
  set(CPACK_${setting} ${${setting}})
endforeach()
# CPack writes every CPACK_ value into a file it runs as CMake code: written escaped, a setting
# holding a quote stays a value.
set(CPACK_VERBATIM_VARIABLES ON)
# What the release removes at its end, or when a step of its packaging stops it: the OpenPGP
# password's copy (cpack.cmake makes it for each signature) and the files of what signing needs.
set(CPACK_TARNWICK_PASSWORD_COPIES ${tarnwick_password_copies}
  ${PROJECT_BINARY_DIR}/signing-settings-win32.cmake ${PROJECT_BINARY_DIR}/signing-settings-win64.cmake)
set(CPACK_TARNWICK_CHECKS ${tarnwick_checks})
set(CPACK_TARNWICK_COMPILER ${CMAKE_CXX_COMPILER})
