# Signing the Windows exes and MSIs with the deployer's own key (Authenticode, by osslsigncode),
# and SHA256SUMS with an OpenPGP key. Without a key nothing here changes the build.
#
# The settings, as cache variables or, for the release, as environment variables of the same name:
#   TARNWICK_SIGN_PKCS12          a PKCS#12 file holding the key and its certificates, or
#   TARNWICK_SIGN_PKCS11_MODULE   a token: its PKCS#11 module,
#   TARNWICK_SIGN_PKCS11_KEY        the key's PKCS#11 URI (pkcs11:token=...;object=...),
#   TARNWICK_SIGN_CERTS             and the certificate chain (PEM), the signer's first;
#   TARNWICK_SIGN_PASSWORD_FILE   the PKCS#12 password or the token's PIN, read from this file;
#   TARNWICK_SIGN_TIMESTAMP_URL   an RFC 3161 time-stamping server (optional);
#   TARNWICK_OPENPGP_KEY          an OpenPGP key file for sqop, or
#   TARNWICK_GPG_KEY              a gpg key, for SHA256SUMS.asc;
#   TARNWICK_SIGNATURES           (for verifying a release) a folder of the release's own
#                                 signatures, put back on the rebuilt files instead of signing.
# Every problem with a key stops the configure step with one line, before anything is built, so
# that a release asked to be signed is never built unsigned or half signed.
# The Authenticode key's settings, which the release hands on to its Windows sub-builds, and all.
set(tarnwick_authenticode_settings TARNWICK_SIGN_PKCS12 TARNWICK_SIGN_PKCS11_MODULE
  TARNWICK_SIGN_PKCS11_KEY TARNWICK_SIGN_CERTS TARNWICK_SIGN_PASSWORD_FILE
  TARNWICK_SIGN_TIMESTAMP_URL)
set(tarnwick_sign_settings ${tarnwick_authenticode_settings} TARNWICK_OPENPGP_KEY TARNWICK_GPG_KEY
  TARNWICK_SIGNATURES)
foreach(setting ${tarnwick_sign_settings})
  if(NOT ${setting} AND DEFINED ENV{${setting}})
    set(${setting} $ENV{${setting}})
  endif()
endforeach()

function(tarnwick_refuse)
  string(JOIN "" line ${ARGN})
  message(FATAL_ERROR "${line}")
endfunction()

function(tarnwick_need_file setting)
  if(NOT EXISTS "${${setting}}" OR IS_DIRECTORY "${${setting}}")
    tarnwick_refuse("${setting}: no such file: ${${setting}}")
  endif()
endfunction()

# Checks the signer's certificate: still valid, and made for code signing.
function(tarnwick_check_certificate certificate)
  execute_process(COMMAND openssl x509 -in ${certificate} -noout -subject
    OUTPUT_VARIABLE subject OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
  if(failed)
    tarnwick_refuse("The signing certificate cannot be read: ${certificate}")
  endif()
  execute_process(COMMAND openssl x509 -in ${certificate} -noout -checkend 0
    RESULT_VARIABLE expired OUTPUT_QUIET ERROR_QUIET)
  if(expired)
    tarnwick_refuse("The signing certificate has expired: ${subject}")
  endif()
  execute_process(COMMAND openssl x509 -in ${certificate} -noout -ext extendedKeyUsage
    OUTPUT_VARIABLE usage ERROR_QUIET)
  if(NOT usage MATCHES "Code Signing")
    tarnwick_refuse("The signing certificate is not for code signing: ${subject}")
  endif()
endfunction()

# A PIN inside the key's URI would be printed, and written into every build's settings and cache:
# refused before it goes anywhere, in a line that does not repeat it.
if(TARNWICK_SIGN_PKCS11_KEY MATCHES "[;?](pin-value|pin-source)=")
  tarnwick_refuse("TARNWICK_SIGN_PKCS11_KEY holds a PIN (pin-value or pin-source): take it out of ",
    "the URI and give it in TARNWICK_SIGN_PASSWORD_FILE")
endif()
set(tarnwick_sign)
set(tarnwick_checks ${CMAKE_CURRENT_BINARY_DIR}/signing-checks)
set(tarnwick_signs FALSE)
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
elseif(tarnwick_signs)
  tarnwick_need_file(TARNWICK_SIGN_PASSWORD_FILE)
  file(MAKE_DIRECTORY ${tarnwick_checks})
  if(TARNWICK_SIGN_PKCS12)
    tarnwick_need_file(TARNWICK_SIGN_PKCS12)
    # The password opens the file, or nothing will: checked once, here.
    execute_process(COMMAND openssl pkcs12 -in ${TARNWICK_SIGN_PKCS12}
        -passin file:${TARNWICK_SIGN_PASSWORD_FILE} -nokeys -clcerts -out ${tarnwick_checks}/signer.pem
      RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
    if(failed)
      tarnwick_refuse("The password in ${TARNWICK_SIGN_PASSWORD_FILE} does not open ${TARNWICK_SIGN_PKCS12}")
    endif()
    tarnwick_check_certificate(${tarnwick_checks}/signer.pem)
  else()
    tarnwick_need_file(TARNWICK_SIGN_PKCS11_MODULE)
    tarnwick_need_file(TARNWICK_SIGN_CERTS)
    if(NOT TARNWICK_SIGN_PKCS11_KEY MATCHES "^pkcs11:")
      tarnwick_refuse("TARNWICK_SIGN_PKCS11_KEY must be the key's pkcs11: URI")
    endif()
    tarnwick_check_certificate(${TARNWICK_SIGN_CERTS})
    # Whether the token signs (it is there, the PIN is right, the key is usable): a small script
    # is the one thing osslsigncode signs that needs no build. (The key's URI holds semicolons: it
    # is passed quoted, never through a list.)
    file(WRITE ${tarnwick_checks}/probe.ps1 "# Tarnwick: the token signs\r\n")
    file(REMOVE ${tarnwick_checks}/probe-signed.ps1)
    execute_process(COMMAND ${OSSLSIGNCODE} sign -pkcs11module ${TARNWICK_SIGN_PKCS11_MODULE}
        -key "${TARNWICK_SIGN_PKCS11_KEY}" -certs ${TARNWICK_SIGN_CERTS}
        -readpass ${TARNWICK_SIGN_PASSWORD_FILE} -h sha256 -in ${tarnwick_checks}/probe.ps1
        -out ${tarnwick_checks}/probe-signed.ps1
      RESULT_VARIABLE failed OUTPUT_VARIABLE said ERROR_VARIABLE said)
    if(failed AND said MATCHES "Unrecognized file type")
      tarnwick_refuse("This osslsigncode cannot sign the script that checks the token: a token needs osslsigncode 2.8 or later")
    elseif(failed)
      tarnwick_refuse("The token refused to sign with ${TARNWICK_SIGN_PKCS11_KEY} (module ${TARNWICK_SIGN_PKCS11_MODULE})")
    endif()
  endif()
endif()
if(tarnwick_signs)
  # What sign.cmake needs, in a file of its own: values with semicolons survive no command line.
  set(settings "set(OSSLSIGNCODE [==[${OSSLSIGNCODE}]==])\n")
  foreach(setting ${tarnwick_sign_settings})
    string(APPEND settings "set(${setting} [==[${${setting}}]==])\n")
  endforeach()
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/signing-settings.cmake "${settings}")
  set(tarnwick_sign ${CMAKE_COMMAND} -DSETTINGS=${CMAKE_CURRENT_BINARY_DIR}/signing-settings.cmake)
endif()

if(TARNWICK_OPENPGP_KEY)
  tarnwick_need_file(TARNWICK_OPENPGP_KEY)
  find_program(SQOP sqop)
  if(NOT SQOP)
    tarnwick_refuse("TARNWICK_OPENPGP_KEY needs sqop (Debian package sqop), which is not installed")
  endif()
elseif(TARNWICK_GPG_KEY)
  execute_process(COMMAND gpg --batch --list-secret-keys ${TARNWICK_GPG_KEY}
    RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
  if(failed)
    tarnwick_refuse("gpg has no secret key ${TARNWICK_GPG_KEY}")
  endif()
endif()
