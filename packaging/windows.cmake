# The Windows packages, one per architecture, of the Windows install: a zip with its SHA-256
# beside it, and an MSI installer that holds exactly what the zip holds.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(windows_arch win64)
else()
  set(windows_arch win32)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME tarnwick-${PROJECT_VERSION}-${windows_arch})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_CHECKSUM SHA256)

# The MSI is built from an install of this build.
set(TARNWICK_MSI ${PROJECT_BINARY_DIR}/${CPACK_PACKAGE_FILE_NAME}.msi)

# With the deployer's key, each exe is signed as soon as it is linked, so that the zip and the
# MSI hold signed exes, and the MSI is signed once built. A sub-build of the release is given the
# file of what signing needs (TARNWICK_SIGNING_SETTINGS, empty for none) by the release, which read
# and checked the keys; a Windows build of its own reads and checks them here.
if(DEFINED TARNWICK_SIGNING_SETTINGS)
  set(tarnwick_settings_file ${TARNWICK_SIGNING_SETTINGS})
else()
  include(${PROJECT_SOURCE_DIR}/packaging/signing.cmake)
  tarnwick_signing_settings(${PROJECT_BINARY_DIR}/signing-settings.cmake "${TARNWICK_SIGNATURES}")
endif()
set(sign_script ${PROJECT_SOURCE_DIR}/packaging/sign.cmake)
set(sign_msi)
if(tarnwick_settings_file)
  set(tarnwick_sign ${CMAKE_COMMAND} -DSETTINGS=${tarnwick_settings_file})
  set(sign_msi COMMAND ${tarnwick_sign} -DFILE=${TARNWICK_MSI} -P ${sign_script})
  foreach(program ${tarnwick_programs})
    # Another key, even at the same path, changes the settings: the exes are linked and signed
    # afresh, and the MSI with them.
    set_property(TARGET ${program} APPEND PROPERTY LINK_DEPENDS ${tarnwick_settings_file})
    add_custom_command(TARGET ${program} POST_BUILD
      COMMAND ${tarnwick_sign} -DFILE=$<TARGET_FILE:${program}> -P ${sign_script} VERBATIM)
  endforeach()
endif()

find_program(WIXL wixl)
find_program(MSIBUILD msibuild)
find_program(FAKETIME faketime)
if(WIXL AND MSIBUILD AND FAKETIME)
  # The MSI's Manufacturer: the release hands its publisher on (checked there).
  include(${PROJECT_SOURCE_DIR}/packaging/publisher.cmake)
  set(TARNWICK_MSI_STAGE ${PROJECT_BINARY_DIR}/msi-stage)
  set(TARNWICK_MSI_COMMAND ${CMAKE_COMMAND} -DSTAGE=${TARNWICK_MSI_STAGE} -DARCH=${windows_arch}
    -DEPOCH=${TARNWICK_EPOCH} -DPUBLISHER=${tarnwick_publisher_argument})
  add_custom_command(OUTPUT ${TARNWICK_MSI}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${TARNWICK_MSI_STAGE}
    COMMAND ${CMAKE_COMMAND} --install ${PROJECT_BINARY_DIR} --prefix ${TARNWICK_MSI_STAGE}
      --config $<CONFIG>
    COMMAND ${TARNWICK_MSI_COMMAND} -DMSI=${TARNWICK_MSI} -DVERSION=${PROJECT_VERSION}
      -P ${PROJECT_SOURCE_DIR}/packaging/msi.cmake
    ${sign_msi}
    DEPENDS tarnwick tarnwickw packaging/tarnwick.wxs packaging/msi.cmake CHANGELOG.md README.md
      LICENSE THIRD-PARTY-NOTICES.txt ${tarnwick_docs} examples/windows.cfg examples/windows-task.xml
    VERBATIM)
  add_custom_target(msi ALL DEPENDS ${TARNWICK_MSI})
  set(CPACK_TARNWICK_MSI ${TARNWICK_MSI})
else()
  message(WARNING "wixl and msibuild (Debian packages wixl, msitools) and faketime are needed "
    "for the MSI: it is not built.")
endif()
include(CPack)
