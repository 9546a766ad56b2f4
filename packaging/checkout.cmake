# Whether a source tree holds its commit and nothing else, as the release's configure step and its
# package step ask (release.cmake, cpack.cmake).
#
# `git status` answers from the checkout's own index, and so misses a file marked
# --skip-worktree or --assume-unchanged, and every untracked or ignored file, one of which (a
# header in src/, first on the include path) would reach the build. So the tree is read into a
# fresh index of this build's own, which has no such marks and no stat information of the
# checkout's: every file outside the build folder is hashed, untracked and ignored ones too, and
# the tree it makes must be the commit's tree. Each file's bytes must also be the blob's as they
# stand, without the conversions (line ends, filters) that git may make when it hashes. Nothing
# is written into the checkout's repository: the new objects go to a folder of this build's own.

# Sets `out` to the first path (as git quotes it) at which `source` differs from its commit
# HEAD, to "its index" when its index differs from HEAD, or to nothing when it does not differ or
# is no git checkout. `binary`: the build folder, left out, and where the work is done.
function(tarnwick_checkout_changes source binary out)
  set(${out} "" PARENT_SCOPE)
  set(git git -C ${source} -c core.quotePath=true -c core.fileMode=true -c core.autocrlf=false
    -c core.safecrlf=false -c core.untrackedCache=false -c core.fsmonitor=false)
  execute_process(COMMAND ${git} rev-parse --verify -q HEAD^{tree} OUTPUT_VARIABLE tree
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
  if(failed)
    return()
  endif()
  execute_process(COMMAND ${git} diff-index --cached --quiet HEAD -- RESULT_VARIABLE staged)
  if(staged)
    set(${out} "its index" PARENT_SCOPE)
    return()
  endif()
  execute_process(COMMAND ${git} rev-parse --path-format=absolute --git-path objects
    OUTPUT_VARIABLE objects OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(work ${binary}/checkout-check)
  file(REMOVE_RECURSE ${work})
  file(MAKE_DIRECTORY ${work}/objects)
  set(fresh ${CMAKE_COMMAND} -E env GIT_INDEX_FILE=${work}/index GIT_OBJECT_DIRECTORY=${work}/objects
    GIT_ALTERNATE_OBJECT_DIRECTORIES=${objects} ${git})
  # build/ is where every preset builds; the build folder may be elsewhere. The verifiers the
  # tests install (tests/verifiers.sh) are no part of any build.
  set(outside ":(top,exclude)build" ":(top,exclude)tests/sigstore/node_modules"
    ":(top,exclude)tests/cdxgen/node_modules")
  file(RELATIVE_PATH relative ${source} ${binary})
  if(NOT relative MATCHES "^\\.\\./" AND NOT relative STREQUAL "")
    list(APPEND outside ":(top,exclude)${relative}")
  endif()
  execute_process(COMMAND ${fresh} add --all --force -- :/ ${outside} RESULT_VARIABLE failed
    OUTPUT_QUIET ERROR_QUIET)
  execute_process(COMMAND ${fresh} write-tree OUTPUT_VARIABLE made OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET)
  set(first)
  if(failed)
    set(first "a file git cannot add (a repository inside the tree?)")
  elseif(NOT made STREQUAL tree)
    execute_process(COMMAND ${fresh} diff-index --cached --name-only --no-renames HEAD --
      OUTPUT_VARIABLE first ERROR_QUIET)
    string(REGEX MATCH "^[^\n]+" first "${first}")
    if(NOT first)
      set(first "the tree")
    endif()
  else()
    # Each regular file's bytes, hashed without any conversion, against the blob's name.
    execute_process(COMMAND ${fresh} ls-files --stage OUTPUT_VARIABLE staged)
    string(REGEX MATCHALL "100[67][0-9][0-9] [0-9a-f]+ 0\t[^\n]+" files "${staged}")
    set(paths)
    set(blobs)
    foreach(file ${files})
      string(REGEX REPLACE "^[0-9]+ ([0-9a-f]+) 0\t(.*)$" "\\1" blob "${file}")
      string(REGEX REPLACE "^[0-9]+ ([0-9a-f]+) 0\t(.*)$" "\\2" path "${file}")
      string(APPEND paths "${path}\n")
      string(APPEND blobs "${blob}\n")
    endforeach()
    file(WRITE ${work}/paths "${paths}")
    execute_process(COMMAND ${git} hash-object --no-filters --stdin-paths INPUT_FILE ${work}/paths
      WORKING_DIRECTORY ${source} OUTPUT_VARIABLE hashed RESULT_VARIABLE failed ERROR_QUIET)
    if(failed OR NOT hashed STREQUAL blobs)
      set(first "a file whose bytes are not its blob's (converted line ends, or a filter)")
    endif()
  endif()
  file(REMOVE_RECURSE ${work})
  set(${out} "${first}" PARENT_SCOPE)
endfunction()
