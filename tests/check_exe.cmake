# Checks a built Windows exe: its subsystem, that it imports only the system DLLs, that it
# carries its manifest and its own version resource and, in a release build, is stripped and small.
# Usage: cmake -DEXE=... -DOBJDUMP=... -DCONFIG=... -DSUBSYSTEM=CUI|GUI -DFORMAT=pei-i386|pei-x86-64
#              -P check_exe.cmake
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump COMMAND_ERROR_IS_FATAL ANY)
set(failures)

# The zip's name promises an architecture: a 64-bit Windows must get a 64-bit program.
if(NOT dump MATCHES "file format ${FORMAT}\n")
  list(APPEND failures "not a ${FORMAT} exe")
endif()

if(NOT dump MATCHES "Subsystem[\t ]+[0-9a-f]+[\t ]+\\(Windows ${SUBSYSTEM}\\)")
  string(REGEX MATCH "Subsystem[\t ]+[0-9a-f]+[^\n]*" found "${dump}")
  list(APPEND failures "subsystem: '${found}', expected Windows ${SUBSYSTEM}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
list(SORT imports)
set(expected "DLL Name: ADVAPI32.dll" "DLL Name: KERNEL32.dll" "DLL Name: SHELL32.dll"
  "DLL Name: msvcrt.dll" "DLL Name: ole32.dll")
if(NOT imports STREQUAL expected)
  list(APPEND failures "imports: ${imports}; expected only: ${expected}")
endif()

# A 32-bit exe declares that it registers no structured exception handler, which is true only
# while no code of it writes the handler chain at fs:0.
if(FORMAT STREQUAL "pei-i386")
  execute_process(COMMAND ${OBJDUMP} -d ${EXE} OUTPUT_VARIABLE code COMMAND_ERROR_IS_FATAL ANY)
  if(NOT dump MATCHES "DllCharacteristics[\t ]+[0-9a-f]*[4c5d6e7f][0-9a-f][0-9a-f]\n" OR
     code MATCHES "%fs:0x0[,\n]")
    list(APPEND failures "no-SEH flag missing, or code that registers a handler")
  endif()
endif()

# The manifest is stored as the text it was written in: one string per line.
file(STRINGS ${EXE} manifest REGEX "requestedExecutionLevel|supportedOS|activeCodePage")
set(wanted "requestedExecutionLevel level=\"asInvoker\""
  "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}" "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"
  "{1f676c76-80e1-4239-95bb-83d0f6d0da78}" "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}")
foreach(text ${wanted})
  string(FIND "${manifest}" "${text}" at)
  if(at EQUAL -1)
    list(APPEND failures "manifest lacks ${text}")
  endif()
endforeach()
if(manifest MATCHES "activeCodePage")
  list(APPEND failures "manifest sets activeCodePage: the file's bytes must reach the shell as ANSI")
endif()

get_filename_component(name ${EXE} NAME)
file(STRINGS ${EXE} version REGEX "^(Tarnwick|${name}|Copyright .* MIT licence.)$" ENCODING UTF-16LE)
foreach(text Tarnwick ${name})
  list(FIND version ${text} at)
  if(at EQUAL -1)
    list(APPEND failures "version resource lacks ${text}")
  endif()
endforeach()
if(NOT version MATCHES "Copyright \\(c\\) 2026 The Tarnwick authors")
  list(APPEND failures "version resource lacks the copyright and licence")
endif()

# The event log's message table, whose sentences are stored as UTF-16.
file(STRINGS ${EXE} messages REGEX "the shell answered %3" ENCODING UTF-16LE)
if(NOT messages)
  list(APPEND failures "no message table for the event log")
endif()

# Every archive the linker took code from has its notices in the notices file, under the heading
# that the table of linked archives gives it; an archive the table does not know fails, as its
# licence is unknown.
file(STRINGS ${ARCHIVES} notices_of REGEX "^[^#]")
file(STRINGS ${MAP} linked REGEX "^(/[^ (]+\\.a\\(|LOAD /[^ ]+\\.o$)")
file(STRINGS ${NOTICES} headings REGEX "^== .* ==$")
set(archives)
foreach(line ${linked})
  string(REGEX REPLACE "^LOAD |\\(.*$" "" path "${line}")
  get_filename_component(archive "${path}" NAME)
  list(APPEND archives ${archive})
endforeach()
list(REMOVE_DUPLICATES archives)
foreach(archive ${archives})
  set(heading)
  foreach(row ${notices_of})
    string(REGEX REPLACE "\t.*" "" pattern "${row}")
    if(archive MATCHES "${pattern}")
      string(REGEX REPLACE "^[^\t]*\t([^\t]*)\t.*$" "\\1" heading "${row}")
    endif()
  endforeach()
  list(FIND headings "== ${heading} ==" at)
  if(NOT heading)
    list(APPEND failures "${archive} is linked, and its licence is not known")
  elseif(at EQUAL -1)
    list(APPEND failures "${archive} is linked, and ${NOTICES} lacks its notices (${heading})")
  endif()
endforeach()

if(CONFIG MATCHES "Release|MinSizeRel")
  file(SIZE ${EXE} size)
  if(size GREATER 262144)
    list(APPEND failures "release exe is ${size} bytes; the goal is at most 256 KiB")
  endif()
  if(dump MATCHES "\\.debug_")
    list(APPEND failures "release exe is not stripped")
  endif()
endif()

if(failures)
  list(JOIN failures "\n" failures)
  message(FATAL_ERROR "${name}:\n${failures}")
endif()
message(STATUS "${name}: ${FORMAT}, Windows ${SUBSYSTEM}, ${imports}, manifest and version resource present")
