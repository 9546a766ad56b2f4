# Builds the MSI from STAGE, an install of the Windows build, with wixl. Every time in it comes
# from EPOCH (when set): the file times in its cabinet are the staged files' own, and the times of
# its summary are the clock's, stopped by faketime. Its codes are derived, never random: the
# product code from the version and architecture, so that each version is a new product that
# upgrades the older one in place, and the package code from those, the publisher and the staged
# bytes. The publisher is the product's Manufacturer and the package's author; upgrades find the
# older version by the UpgradeCode alone, so a new publisher still replaces it.
# Usage: cmake -DSTAGE=... -DMSI=... -DVERSION=... -DARCH=win32|win64
#              -DEPOCH=... -DPUBLISHER=... -P msi.cmake
if(ARCH STREQUAL win64)
  set(win64 yes)
  set(platform x64)
  set(template "x64;1033")
else()
  set(win64 no)
  set(platform x86)
  set(template "Intel;1033")
endif()
file(GLOB_RECURSE staged ${STAGE}/*)
list(SORT staged)
set(clock)
if(EPOCH)
  execute_process(COMMAND touch -d @${EPOCH} ${staged} COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND date -u -d @${EPOCH} "+%Y-%m-%d %H:%M:%S" OUTPUT_VARIABLE stopped
    OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(ENV{TZ} UTC)
  set(clock faketime -f ${stopped})
endif()
set(hashes)
foreach(file ${staged})
  file(SHA256 ${file} hash)
  list(APPEND hashes ${hash})
endforeach()
set(namespace 4f0d6a49-3a8e-4bd5-9d0e-6ab3cb3c2a51)
string(UUID product_code NAMESPACE ${namespace} NAME "${VERSION} ${ARCH}" TYPE SHA1 UPPER)
string(UUID package_code NAMESPACE ${namespace} NAME "${VERSION} ${ARCH} ${PUBLISHER} ${hashes}"
  TYPE SHA1 UPPER)

file(REMOVE ${MSI})
execute_process(COMMAND ${clock} wixl --arch ${platform} -D Version=${VERSION}
    -D ProductCode=${product_code} -D Win64=${win64} -D "Manufacturer=${PUBLISHER}" -o ${MSI}
    ${CMAKE_CURRENT_LIST_DIR}/tarnwick.wxs
  WORKING_DIRECTORY ${STAGE} COMMAND_ERROR_IS_FATAL ANY)
# wixl writes a random package code; msibuild rewrites the summary (subject, author, platform
# and language, package code).
execute_process(COMMAND ${clock} msibuild ${MSI} -s "Tarnwick ${VERSION}" "${PUBLISHER}" "${template}"
    {${package_code}} COMMAND_ERROR_IS_FATAL ANY)
