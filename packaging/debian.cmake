# The Debian package of the Linux install, stripped, with its dependencies found by
# dpkg-shlibdeps, and the changelog in Debian's format that Debian asks a package of its own for:
# one entry, dated with the release, that points to CHANGELOG.md.
# Its Maintainer, whom Debian's tools name as the one who answers for it, is the release's
# publisher at the security contact (publisher.cmake). A name with one of RFC 5322's specials (a
# comma, a semicolon, a full stop, ...) is quoted, or the field would read as several addresses, or
# none.
include(${PROJECT_SOURCE_DIR}/packaging/publisher.cmake)
set(maintainer "${TARNWICK_PUBLISHER}")
if(maintainer MATCHES "[][()<>:;@,.\\\"]")
  string(REPLACE "\\" "\\\\" maintainer "${maintainer}")
  string(REPLACE "\"" "\\\"" maintainer "${maintainer}")
  set(maintainer "\"${maintainer}\"")
endif()
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${maintainer} <${TARNWICK_SECURITY_CONTACT}>")
if(TARNWICK_EPOCH)
  set(date_of -d @${TARNWICK_EPOCH})
endif()
execute_process(COMMAND date -u -R ${date_of} OUTPUT_VARIABLE changelog_date
  OUTPUT_STRIP_TRAILING_WHITESPACE)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in changelog @ONLY)
set(changelog ${PROJECT_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND gzip -9nkf ${PROJECT_BINARY_DIR}/changelog
  DEPENDS ${PROJECT_BINARY_DIR}/changelog VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# xdg-open opens what is not a program (URLs, folders, documents); programs start without it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "start a fixed list of applications in one go
Tarnwick reads one configuration file, one entry per line (a program, document,
folder or URL, optionally followed by parameters), and starts every entry in
file order, without waiting for any of them. It prints nothing unless asked
to, and says through its exit status whether everything was started. Put it
in your log-on: an XDG autostart entry is among the examples.")
include(CPack)
