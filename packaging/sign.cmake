# Signs FILE (an exe or an MSI) in place with the key that SETTINGS names (written by
# signing.cmake), or, when verifying a release, puts back its own signature from
# TARNWICK_SIGNATURES/<name of FILE>.p7 (a file the release had unsigned stays unsigned, and so
# does one whose signature does not fit).
# The file is replaced only once the signed one is whole.
# Usage: cmake -DSETTINGS=... -DFILE=... -P sign.cmake
include(${SETTINGS})
get_filename_component(name ${FILE} NAME)
set(signed ${FILE}.signed)
file(REMOVE ${signed})
set(timestamp)
if(TARNWICK_SIGN_TIMESTAMP_URL)
  # RFC 3161; the signature then also holds the server's time, and is no longer reproducible.
  set(timestamp -ts ${TARNWICK_SIGN_TIMESTAMP_URL})
elseif(TARNWICK_SIGNING_TIME)
  # The signing time the signature states is the release's own (signing.cmake), not the clock's:
  # the same keys then give the same bytes.
  set(timestamp -time ${TARNWICK_SIGNING_TIME})
endif()
if(TARNWICK_SIGNATURES)
  set(signature ${TARNWICK_SIGNATURES}/${name}.p7)
  if(NOT EXISTS ${signature})
    return()
  endif()
  # osslsigncode checks what it attaches: the signature's own chain is what it is checked against
  # (whether that chain is to be trusted is the signature's reader's business), and the file's
  # hash must be the one signed. A signature that does not fit leaves the file unsigned, for the
  # comparison that follows to name.
  execute_process(COMMAND openssl pkcs7 -inform DER -in ${signature} -print_certs
      -out ${signed}.chain COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
  execute_process(COMMAND ${OSSLSIGNCODE} attach-signature -sigin ${signature}
      -CAfile ${signed}.chain -in ${FILE} -out ${signed}
    RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
  file(REMOVE ${signed}.chain)
  if(failed OR NOT EXISTS ${signed})
    file(REMOVE ${signed})
    message(WARNING "The release's signature does not fit the rebuilt ${name}")
    return()
  endif()
  file(RENAME ${signed} ${FILE})
  return()
endif()
# The password is the first line of the deployer's file, without its CR or LF (osslsigncode takes
# off the LF that sed ends it with), handed over through a pipe: no copy of it is ever written, so
# none is left however the build stops.
set(password COMMAND sed -n -e "1s/\r.*//" -e 1p ${TARNWICK_SIGN_PASSWORD_FILE})
if(TARNWICK_SIGN_PKCS12)
  execute_process(${password} COMMAND ${OSSLSIGNCODE} sign -pkcs12 ${TARNWICK_SIGN_PKCS12}
      -readpass /dev/stdin -h sha256 -n Tarnwick ${timestamp} -in ${FILE} -out ${signed}
    RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE error)
else()
  # The key's URI holds semicolons: passed quoted, never through a list.
  execute_process(${password} COMMAND ${OSSLSIGNCODE} sign -pkcs11module ${TARNWICK_SIGN_PKCS11_MODULE}
      -key "${TARNWICK_SIGN_PKCS11_KEY}" -certs ${TARNWICK_SIGN_CERTS}
      -readpass /dev/stdin -h sha256 -n Tarnwick ${timestamp} -in ${FILE} -out ${signed}
    RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE error)
endif()
if(failed OR NOT EXISTS ${signed})
  # The settings go with the stop, as with the release's end: the next build writes them again.
  file(REMOVE ${signed} ${SETTINGS})
  string(STRIP "${error}" error)
  message(FATAL_ERROR "Could not sign ${name}: ${error}")
endif()
file(RENAME ${signed} ${FILE})
