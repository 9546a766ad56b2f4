# Who publishes the release (TARNWICK_PUBLISHER, "Tarnwick developers" when not given), as the
# release and each Windows build take it; `tarnwick_publisher_argument` is it written for a command
# line, where a "$<" would start a generator expression and a ";" split the value.
if("${TARNWICK_PUBLISHER}" STREQUAL "")
  set(TARNWICK_PUBLISHER "Tarnwick developers")
endif()
string(REPLACE "$<" "$<1:$><" tarnwick_publisher_argument "${TARNWICK_PUBLISHER}")
string(REPLACE ";" "$<SEMICOLON>" tarnwick_publisher_argument "${tarnwick_publisher_argument}")
# Where the publisher takes reports of vulnerabilities (TARNWICK_SECURITY_CONTACT), an email
# address: the SBOMs' security contact and the Debian package's Maintainer. Not given, it is an
# address under .invalid, the top-level name RFC 2606 reserves for names that are invalid: it
# reaches no one, and says so at a glance, rather than pretend to be someone's.
set(tarnwick_no_contact nobody@tarnwick.invalid)
if("${TARNWICK_SECURITY_CONTACT}" STREQUAL "")
  set(TARNWICK_SECURITY_CONTACT ${tarnwick_no_contact})
endif()
