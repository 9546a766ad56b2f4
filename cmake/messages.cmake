# Makes the records' sentences for syslog from the event log's message table, so that each
# sentence is written once: a C++ header with one string per message ID, index 0 unused.
# Usage: include(cmake/messages.cmake) with MESSAGES_MC (the table) and MESSAGES_H (the header).
file(READ ${MESSAGES_MC} table)
# Every line an item of a list: a semicolon (the table's comment mark) must not split one.
string(REPLACE ";" "<semicolon>" table "${table}")
string(REPLACE "\n" ";" lines "${table}")
set(sentences)
set(id)
set(in_text FALSE)
foreach(line IN LISTS lines)
  string(REPLACE "<semicolon>" ";" line "${line}")
  if(in_text)
    if(line STREQUAL ".")
      set(in_text FALSE)
      list(LENGTH sentences count)
      math(EXPR count "${count} + 1")
      if(NOT id EQUAL count)
        message(FATAL_ERROR "${MESSAGES_MC}: message IDs must run 1, 2, 3, ... (found ${id})")
      endif()
      # Only %1 to %9 are read as the event log reads them: any other % would be shown otherwise.
      if(text MATCHES "%([^1-9]|$)")
        message(FATAL_ERROR "${MESSAGES_MC}: message ${id} has a % that is not %1 to %9")
      endif()
      string(REPLACE "\\" "\\\\" text "${text}")
      string(REPLACE "\"" "\\\"" text "${text}")
      list(APPEND sentences "    \"${text}\",\n")
    elseif(text STREQUAL "")
      set(text "${line}")
    else()
      message(FATAL_ERROR "${MESSAGES_MC}: message ${id} has more than one line")
    endif()
  elseif(line MATCHES "^MessageId=([0-9]+)")
    set(id ${CMAKE_MATCH_1})
  elseif(line MATCHES "^Language=" AND NOT id STREQUAL "")
    set(in_text TRUE)
    set(text "")
  endif()
endforeach()
list(JOIN sentences "" body)
# Written only when it changed, so that a new configure run rebuilds nothing.
file(CONFIGURE OUTPUT ${MESSAGES_H} @ONLY CONTENT "// Made by the build from messages.mc: do not edit.
#ifndef TARNWICK_RECORD_SENTENCES_H_
#define TARNWICK_RECORD_SENTENCES_H_

// Each record's sentence as the event log's message table has it, by event ID (0 unused); %1,
// %2, ... stand for the record's texts.
constexpr const char* kRecordSentences[] = {
    nullptr,
${body}};

#endif  // TARNWICK_RECORD_SENTENCES_H_
")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${MESSAGES_MC})
