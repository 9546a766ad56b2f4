# Signing the Windows exes and MSIs with the deployer's own key (Authenticode, by osslsigncode),
# and SHA256SUMS with an OpenPGP key. Without a key nothing here changes the build.
#
# The settings, as cache variables or, for the release, as environment variables of the same name:
#   TARNWICK_SIGN_PKCS12            a PKCS#12 file holding the key and its certificates, or
#   TARNWICK_SIGN_PKCS11_MODULE     a token: its PKCS#11 module,
#   TARNWICK_SIGN_PKCS11_KEY          the key's PKCS#11 URI (pkcs11:token=...;object=...),
#   TARNWICK_SIGN_CERTS               and the certificate chain (PEM), the signer's first;
#   TARNWICK_SIGN_PASSWORD_FILE     the PKCS#12 password or the token's PIN: the first line of this
#                                   file, without its CR or LF;
#   TARNWICK_SIGN_TIMESTAMP_URL     an RFC 3161 time-stamping server (optional);
#   TARNWICK_OPENPGP_KEY            an OpenPGP key file for sqop, and for a protected key
#   TARNWICK_OPENPGP_PASSWORD_FILE    its password, read as above; or
#   TARNWICK_GPG_KEY                a gpg key, for SHA256SUMS.asc;
#   TARNWICK_SIGNATURES             (for verifying a release) a folder of the release's own
#                                   signatures, put back on the rebuilt files instead of signing;
#   TARNWICK_INTOTO_BUILDERS        a folder of the builders' OpenPGP certificates, and
#   TARNWICK_INTOTO_THRESHOLD         how many of them must have rebuilt the same bytes,
#   TARNWICK_INTOTO_EXPIRES           until when (YYYY-MM-DD): the in-toto layout that the APT
#                                     repository ships, signed with the OpenPGP key.
# Every problem with a key stops the configure step with one line, before anything is built, so
# that a release asked to be signed is never built unsigned or half signed; one line says what
# will be signed, and with what. The settings are read and checked here once, by the build that
# includes this file (the release's top build, or a Windows build of its own); the release hands
# its Windows sub-builds what signing needs (tarnwick_signing_settings), and they read nothing.
# The Authenticode key's settings, and all.
set(tarnwick_authenticode_settings TARNWICK_SIGN_PKCS12 TARNWICK_SIGN_PKCS11_MODULE
  TARNWICK_SIGN_PKCS11_KEY TARNWICK_SIGN_CERTS TARNWICK_SIGN_PASSWORD_FILE
  TARNWICK_SIGN_TIMESTAMP_URL)
set(tarnwick_sign_settings ${tarnwick_authenticode_settings} TARNWICK_OPENPGP_KEY
  TARNWICK_OPENPGP_PASSWORD_FILE TARNWICK_GPG_KEY TARNWICK_SIGNATURES)
# The release's other settings (release.cmake).
set(tarnwick_release_settings TARNWICK_BUILDER_ID TARNWICK_PUBLISHER TARNWICK_SECURITY_CONTACT
  TARNWICK_DOWNLOAD_URL TARNWICK_WINGET_ID TARNWICK_WINGET_PUBLISHER TARNWICK_APT_HISTORY
  TARNWICK_INTOTO_BUILDERS TARNWICK_INTOTO_THRESHOLD TARNWICK_INTOTO_EXPIRES)
set(tarnwick_path_settings TARNWICK_SIGN_PKCS12 TARNWICK_SIGN_PKCS11_MODULE TARNWICK_SIGN_CERTS
  TARNWICK_SIGN_PASSWORD_FILE TARNWICK_OPENPGP_KEY TARNWICK_OPENPGP_PASSWORD_FILE TARNWICK_SIGNATURES
  TARNWICK_APT_HISTORY TARNWICK_INTOTO_BUILDERS)

# Made afresh by each configure step, so that nothing an earlier one left (stopped by a signal,
# say) lingers in it.
set(tarnwick_checks ${CMAKE_CURRENT_BINARY_DIR}/signing-checks)
file(REMOVE_RECURSE ${tarnwick_checks})
file(MAKE_DIRECTORY ${tarnwick_checks})
file(CHMOD ${tarnwick_checks} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
# The plaintext copies of the passwords (tarnwick_password_file), which this file's checks read:
# gone at the end of this file, and when it refuses; the signing steps after it read the password
# files themselves (sign.cmake, cpack.cmake). And the copy of a gpg key that in-toto signs the
# layout with (release.cmake): gone when the configure step refuses, and at the end of the release.
set(tarnwick_password_copies ${tarnwick_checks}/TARNWICK_SIGN_PASSWORD_FILE
  ${tarnwick_checks}/TARNWICK_OPENPGP_PASSWORD_FILE ${tarnwick_checks}/intoto-key.asc)

function(tarnwick_refuse)
  file(GLOB settings ${CMAKE_CURRENT_BINARY_DIR}/signing-settings*.cmake)
  file(REMOVE ${tarnwick_password_copies} ${settings})
  string(JOIN "" line ${ARGN})
  message(FATAL_ERROR "${line}")
endfunction()

foreach(setting ${tarnwick_sign_settings} ${tarnwick_release_settings})
  if(NOT ${setting} AND DEFINED ENV{${setting}})
    set(${setting} $ENV{${setting}})
  endif()
  # A relative path is taken from the top of the source tree, where the release is started: the
  # same folder whoever runs this (the build re-runs it from a folder of its own).
  if(${setting} AND setting IN_LIST tarnwick_path_settings)
    get_filename_component(${setting} "${${setting}}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")
  endif()
endforeach()
# A misspelt setting would otherwise give an unsigned release without a word.
execute_process(COMMAND ${CMAKE_COMMAND} -E environment OUTPUT_VARIABLE environment)
string(REGEX MATCHALL "(^|\n)TARNWICK_[A-Z0-9_]*=" given "${environment}")
foreach(setting ${given})
  string(REGEX REPLACE "^\n|=$" "" setting "${setting}")
  if(NOT "${setting}" IN_LIST tarnwick_sign_settings AND NOT "${setting}" IN_LIST tarnwick_release_settings)
    message(WARNING "${setting} is not a setting of the release (misspelt?): it is ignored")
  endif()
endforeach()

function(tarnwick_need_file setting why)
  if(NOT ${setting})
    tarnwick_refuse("${setting} is not set: ${why}")
  elseif(NOT EXISTS "${${setting}}" OR IS_DIRECTORY "${${setting}}")
    tarnwick_refuse("${setting}: no such file: ${${setting}}")
  endif()
endfunction()

# A password file as both osslsigncode and OpenSSL will read it: its first line, without its CR or
# LF, in a file of this build's own (a folder only its owner can read) named by `out`, removed at
# the end of this file.
function(tarnwick_password_file setting out)
  file(READ "${${setting}}" content)
  string(REGEX MATCH "^[^\r\n]*" password "${content}")
  set(copy ${tarnwick_checks}/${setting})
  file(WRITE ${copy} "${password}")
  set(${out} ${copy} PARENT_SCOPE)
endfunction()

# Opens the PKCS#12 file with `password` and writes its certificates (`what`: -clcerts for the
# signer's, -cacerts for the others) to `pem`. Older Windows exports use legacy encryption
# (RC2-40), which OpenSSL 3 opens only when asked to, and osslsigncode signs with.
function(tarnwick_pkcs12_certificates password what pem)
  foreach(legacy "" -legacy)
    execute_process(COMMAND openssl pkcs12 ${legacy} -in ${TARNWICK_SIGN_PKCS12} -passin file:${password}
        -nokeys ${what} -out ${pem}
      RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
    if(NOT failed)
      return()
    endif()
  endforeach()
  tarnwick_refuse("The password in ${TARNWICK_SIGN_PASSWORD_FILE} does not open ${TARNWICK_SIGN_PKCS12}")
endfunction()

# Checks the signer's certificate (still valid, and made for code signing) and every other
# certificate of its chain (none whose extended key usage leaves code signing out, as Windows
# refuses such a chain); sets `subject` to the signer's.
function(tarnwick_check_chain signer others)
  execute_process(COMMAND openssl x509 -in ${signer} -noout -subject
    OUTPUT_VARIABLE who OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
  if(failed)
    tarnwick_refuse("The signing certificate cannot be read: ${signer}")
  endif()
  execute_process(COMMAND openssl x509 -in ${signer} -noout -checkend 0
    RESULT_VARIABLE expired OUTPUT_QUIET ERROR_QUIET)
  if(expired)
    tarnwick_refuse("The signing certificate has expired: ${who}")
  endif()
  execute_process(COMMAND openssl x509 -in ${signer} -noout -ext extendedKeyUsage
    OUTPUT_VARIABLE usage ERROR_QUIET)
  if(NOT usage MATCHES "Code Signing")
    tarnwick_refuse("The signing certificate is not for code signing: ${who}")
  endif()
  file(READ ${others} chain)
  string(REGEX MATCHALL "-----BEGIN CERTIFICATE-----[^-]+-----END CERTIFICATE-----" chain "${chain}")
  foreach(certificate ${chain})
    file(WRITE ${tarnwick_checks}/link.pem "${certificate}\n")
    execute_process(COMMAND openssl x509 -in ${tarnwick_checks}/link.pem -noout -subject
      -ext extendedKeyUsage OUTPUT_VARIABLE usage ERROR_QUIET)
    string(REGEX MATCH "subject=[^\n]*" link "${usage}")
    if(usage MATCHES "Extended Key Usage" AND NOT usage MATCHES "Code Signing|Any Extended Key Usage")
      tarnwick_refuse("The signing certificate's chain holds ${link}, whose extended key usage "
        "leaves out code signing: Windows refuses such a chain")
    endif()
  endforeach()
  set(subject ${who} PARENT_SCOPE)
endfunction()

# A PIN inside the key's URI would reach the token, and be written into the build's settings:
# refused before it goes anywhere, wherever it stands (first, after ';', '?' or '&') and however it
# is written, in a line that does not repeat it. The URI itself is never printed: the token and
# object it names are.
string(TOLOWER "${TARNWICK_SIGN_PKCS11_KEY}" key_uri)
if(key_uri MATCHES "pin-(value|source)")
  tarnwick_refuse("TARNWICK_SIGN_PKCS11_KEY holds a PIN (pin-value or pin-source): take it out of "
    "the URI and give it in TARNWICK_SIGN_PASSWORD_FILE")
endif()
set(tarnwick_token_key)
foreach(attribute token object)
  if(TARNWICK_SIGN_PKCS11_KEY MATCHES "[:;]${attribute}=([^;?]*)")
    list(APPEND tarnwick_token_key "${attribute} '${CMAKE_MATCH_1}'")
  endif()
endforeach()
list(JOIN tarnwick_token_key ", " tarnwick_token_key)
set(tarnwick_signs FALSE)
set(tarnwick_password)
if(TARNWICK_SIGNATURES OR TARNWICK_SIGN_PKCS12 OR TARNWICK_SIGN_PKCS11_MODULE)
  set(tarnwick_signs TRUE)
  find_program(OSSLSIGNCODE osslsigncode)
  if(NOT OSSLSIGNCODE)
    tarnwick_refuse("Signing needs osslsigncode (Debian package osslsigncode), which is not installed")
  endif()
endif()
if(TARNWICK_SIGNATURES)
  if(NOT IS_DIRECTORY "${TARNWICK_SIGNATURES}")
    tarnwick_refuse("TARNWICK_SIGNATURES: no such folder: ${TARNWICK_SIGNATURES}")
  endif()
  message(STATUS "Authenticode: the release's own signatures, from ${TARNWICK_SIGNATURES}")
elseif(tarnwick_signs)
  tarnwick_need_file(TARNWICK_SIGN_PASSWORD_FILE "the key's password (or the token's PIN) is read from that file")
  tarnwick_password_file(TARNWICK_SIGN_PASSWORD_FILE tarnwick_password)
  if(TARNWICK_SIGN_PKCS12)
    tarnwick_need_file(TARNWICK_SIGN_PKCS12 "")
    # The password opens the file, or nothing will: checked once, here.
    tarnwick_pkcs12_certificates(${tarnwick_password} -clcerts ${tarnwick_checks}/signer.pem)
    tarnwick_pkcs12_certificates(${tarnwick_password} -cacerts ${tarnwick_checks}/chain.pem)
    tarnwick_check_chain(${tarnwick_checks}/signer.pem ${tarnwick_checks}/chain.pem)
    set(tarnwick_certificates ${tarnwick_checks}/signer.pem ${tarnwick_checks}/chain.pem)
  else()
    tarnwick_need_file(TARNWICK_SIGN_PKCS11_MODULE "")
    tarnwick_need_file(TARNWICK_SIGN_CERTS "a token needs its certificate chain as a PEM file")
    if(NOT TARNWICK_SIGN_PKCS11_KEY MATCHES "^pkcs11:")
      tarnwick_refuse("TARNWICK_SIGN_PKCS11_KEY must be the key's pkcs11: URI")
    endif()
    tarnwick_check_chain(${TARNWICK_SIGN_CERTS} ${TARNWICK_SIGN_CERTS})
    set(tarnwick_certificates ${TARNWICK_SIGN_CERTS})
    # Whether the token signs (it is there, the PIN is right, the key is usable): a small script
    # is the one thing osslsigncode signs that needs no build. (The key's URI holds semicolons: it
    # is passed quoted, never through a list.)
    file(WRITE ${tarnwick_checks}/probe.ps1 "# Tarnwick: the token signs\r\n")
    file(REMOVE ${tarnwick_checks}/probe-signed.ps1)
    execute_process(COMMAND ${OSSLSIGNCODE} sign -pkcs11module ${TARNWICK_SIGN_PKCS11_MODULE}
        -key "${TARNWICK_SIGN_PKCS11_KEY}" -certs ${TARNWICK_SIGN_CERTS}
        -readpass ${tarnwick_password} -h sha256 -in ${tarnwick_checks}/probe.ps1
        -out ${tarnwick_checks}/probe-signed.ps1
      RESULT_VARIABLE failed OUTPUT_VARIABLE said ERROR_VARIABLE said)
    if(failed AND said MATCHES "Unrecognized file type")
      tarnwick_refuse("This osslsigncode cannot sign the script that checks the token: a token needs osslsigncode 2.8 or later")
    elseif(failed)
      tarnwick_refuse("The token refused to sign with its key (${tarnwick_token_key}), module "
        "${TARNWICK_SIGN_PKCS11_MODULE}")
    endif()
  endif()
  if(TARNWICK_SIGN_PKCS12)
    message(STATUS "Authenticode: signing as ${subject}, with ${TARNWICK_SIGN_PKCS12}")
  else()
    message(STATUS "Authenticode: signing as ${subject}, with the token's key (${tarnwick_token_key})")
  endif()
else()
  message(STATUS "Authenticode: not signing (no key given)")
  if(TARNWICK_SIGN_PASSWORD_FILE)
    message(WARNING "TARNWICK_SIGN_PASSWORD_FILE is given without a key (TARNWICK_SIGN_PKCS12, or "
      "TARNWICK_SIGN_PKCS11_MODULE): nothing is signed")
  endif()
endif()
# The signing time a signature states is the release's own, so that the same keys give the same
# bytes; but never before the certificate's first day: a certificate made after the commit (just
# before releasing, say) was not yet valid at the commit's time.
set(TARNWICK_SIGNING_TIME ${TARNWICK_EPOCH})
if(tarnwick_signs AND NOT TARNWICK_SIGNATURES AND TARNWICK_EPOCH)
  set(signer ${TARNWICK_SIGN_CERTS})
  if(TARNWICK_SIGN_PKCS12)
    set(signer ${tarnwick_checks}/signer.pem)
  endif()
  execute_process(COMMAND openssl x509 -in ${signer} -noout -startdate OUTPUT_VARIABLE not_before
    RESULT_VARIABLE failed)
  string(REGEX REPLACE "^notBefore=|\n$" "" not_before "${not_before}")
  execute_process(COMMAND date -u -d "${not_before}" +%s OUTPUT_VARIABLE start
    OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE unreadable)
  if(failed OR unreadable)
    tarnwick_refuse("The signing certificate's first day cannot be read: ${signer}")
  endif()
  if(start GREATER TARNWICK_EPOCH)
    set(TARNWICK_SIGNING_TIME ${start})
    message(STATUS "Authenticode: the signatures state the certificate's first day (${not_before}) as "
      "their time: the release's own time (SOURCE_DATE_EPOCH) is earlier")
  endif()
endif()
# A CMake bracket argument that holds `value` as it stands, whatever it holds: its brackets take as
# many '=' as no "]=...]" in the value ends it early, and its first newline, which CMake drops,
# is one of its own.
function(tarnwick_bracket value out)
  set(equals)
  string(FIND "${value}]" "]]" at)
  while(NOT at EQUAL -1)
    string(APPEND equals "=")
    string(FIND "${value}]" "]${equals}]" at)
  endwhile()
  set(${out} "[${equals}[\n${value}]${equals}]" PARENT_SCOPE)
endfunction()

# What sign.cmake needs, in the file `file` (`signatures`: the folder of the release's own
# signatures, when verifying), which a Windows build signs with; sets tarnwick_settings_file to it,
# or to nothing when nothing is signed. Each value is written as it is, never read as CMake code;
# the password is not in it, only the path of the deployer's own file. It also holds the SHA-256
# of the signer's certificates (public, unlike the key file or the password): the signatures
# change only with the key, and a new key comes with a new certificate, so a new key at the same
# path changes the file, and so signs every exe and MSI afresh; it is rewritten only when it
# changes. Readable by its owner alone, and removed with the release's end: the configure step
# that a build then runs (the file is one of its inputs) writes it again.
function(tarnwick_signing_settings file signatures)
  set(tarnwick_settings_file PARENT_SCOPE)
  if(NOT tarnwick_signs)
    return()
  endif()
  set(TARNWICK_SIGNATURES ${signatures})
  set(settings)
  foreach(setting OSSLSIGNCODE TARNWICK_SIGNING_TIME ${tarnwick_authenticode_settings} TARNWICK_SIGNATURES)
    tarnwick_bracket("${${setting}}" value)
    string(APPEND settings "set(${setting} ${value})\n")
  endforeach()
  foreach(certificate ${tarnwick_certificates})
    file(SHA256 ${certificate} hash)
    string(APPEND settings "# ${hash}\n")
  endforeach()
  get_filename_component(name ${file} NAME)
  file(WRITE ${tarnwick_checks}/${name} "${settings}")
  file(CHMOD ${tarnwick_checks}/${name} PERMISSIONS OWNER_READ OWNER_WRITE)
  file(COPY_FILE ${tarnwick_checks}/${name} ${file} ONLY_IF_DIFFERENT)
  file(CHMOD ${file} PERMISSIONS OWNER_READ OWNER_WRITE)
  file(REMOVE ${tarnwick_checks}/${name})
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  set(tarnwick_settings_file ${file} PARENT_SCOPE)
endfunction()

set(tarnwick_openpgp_password)
file(WRITE ${tarnwick_checks}/probe.txt "Tarnwick: the key signs\n")
if(TARNWICK_OPENPGP_KEY)
  tarnwick_need_file(TARNWICK_OPENPGP_KEY "")
  find_program(SQOP sqop)
  if(NOT SQOP)
    tarnwick_refuse("TARNWICK_OPENPGP_KEY needs sqop (Debian package sqop), which is not installed")
  endif()
  set(with_password)
  if(TARNWICK_OPENPGP_PASSWORD_FILE)
    tarnwick_need_file(TARNWICK_OPENPGP_PASSWORD_FILE "")
    tarnwick_password_file(TARNWICK_OPENPGP_PASSWORD_FILE copy)
    set(with_password --with-key-password=${copy})
    set(tarnwick_openpgp_password ${TARNWICK_OPENPGP_PASSWORD_FILE})
  endif()
  # The key signs now, or SHA256SUMS would be left unsigned at the very end.
  execute_process(COMMAND ${SQOP} sign --as=text ${with_password} ${TARNWICK_OPENPGP_KEY}
    INPUT_FILE ${tarnwick_checks}/probe.txt RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
  if(failed)
    # A certificate (the public half, as publisher.cert is) signs nothing: its first packet is a
    # public key's (tag 6: 0x98-0x9b in the old format, 0xc6 in the new), a secret key's is tag 5.
    execute_process(COMMAND ${SQOP} dearmor INPUT_FILE ${TARNWICK_OPENPGP_KEY}
      OUTPUT_FILE ${tarnwick_checks}/key.bin RESULT_VARIABLE unreadable ERROR_QUIET)
    file(READ ${tarnwick_checks}/key.bin first LIMIT 1 HEX)
    file(REMOVE ${tarnwick_checks}/key.bin)
    if(NOT unreadable AND NOT first MATCHES "^(9[4-7]|c5)$")
      tarnwick_refuse("The file ${TARNWICK_OPENPGP_KEY} holds no secret key (a certificate, the "
        "key's public half?): TARNWICK_OPENPGP_KEY is the key that sqop generate-key made")
    endif()
    tarnwick_refuse("The OpenPGP key in ${TARNWICK_OPENPGP_KEY} does not sign: a key protected by a "
      "password needs TARNWICK_OPENPGP_PASSWORD_FILE, with the right password")
  endif()
  message(STATUS "OpenPGP: signing SHA256SUMS with the key in ${TARNWICK_OPENPGP_KEY}")
elseif(TARNWICK_GPG_KEY)
  execute_process(COMMAND gpg --batch --yes --local-user ${TARNWICK_GPG_KEY} --armor --detach-sign
      --output ${tarnwick_checks}/probe.txt.asc ${tarnwick_checks}/probe.txt
    RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
  if(failed)
    tarnwick_refuse("gpg does not sign with the key ${TARNWICK_GPG_KEY}")
  endif()
  message(STATUS "OpenPGP: signing SHA256SUMS with gpg's key ${TARNWICK_GPG_KEY}")
else()
  message(STATUS "OpenPGP: not signing SHA256SUMS (no key given)")
  if(TARNWICK_OPENPGP_PASSWORD_FILE)
    message(WARNING "TARNWICK_OPENPGP_PASSWORD_FILE is given without TARNWICK_OPENPGP_KEY: "
      "SHA256SUMS is not signed")
  endif()
endif()
# The checks are done: no plaintext copy of a password outlives them.
file(REMOVE ${tarnwick_password_copies})
