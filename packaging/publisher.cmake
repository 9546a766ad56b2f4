# Who publishes the release (TARNWICK_PUBLISHER, "Tarnwick developers" when not given), as the
# release and each Windows build take it; `tarnwick_publisher_argument` is it written for a command
# line, where a "$<" would start a generator expression and a ";" split the value.
if("${TARNWICK_PUBLISHER}" STREQUAL "")
  set(TARNWICK_PUBLISHER "Tarnwick developers")
endif()
string(REPLACE "$<" "$<1:$><" tarnwick_publisher_argument "${TARNWICK_PUBLISHER}")
string(REPLACE ";" "$<SEMICOLON>" tarnwick_publisher_argument "${tarnwick_publisher_argument}")
