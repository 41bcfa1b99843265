# The version of a build, from git describe: the last vX.Y.Z tag and the
# commits since give X.Y.Z.N. A checkout without such a tag (or without git)
# is 0.0.0.0, and its version text says so. Included before project(); sets
#   ZUL_VERSION         X.Y.Z.N, the project's version
#   ZUL_VERSION_TEXT    the file version string: X.Y.Z.N (vX.Y.Z-N-g<hash>),
#                       or 0.0.0.0 (untagged <hash>)
#   ZUL_COPYRIGHT_YEAR  the year of the commit (of SOURCE_DATE_EPOCH when set)
set(ZUL_VERSION 0.0.0.0)
set(ZUL_VERSION_TEXT "0.0.0.0 (untagged)")

function(zul_git var)
  execute_process(COMMAND git ${ARGN} WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR}/..
    OUTPUT_VARIABLE out RESULT_VARIABLE rc ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    set(out "")
  endif()
  set(${var} "${out}" PARENT_SCOPE)
endfunction()

zul_git(ZUL_GIT_DESCRIBE describe --tags --long --abbrev=12 --match "v[0-9]*.[0-9]*.[0-9]*")
zul_git(ZUL_GIT_HASH rev-parse --short=12 HEAD)
zul_git(ZUL_GIT_TIME log -1 --format=%ct)
if(ZUL_GIT_DESCRIBE MATCHES "^v([0-9]+)\\.([0-9]+)\\.([0-9]+)-([0-9]+)-g[0-9a-f]+$")
  foreach(part 1 2 3 4)
    if(CMAKE_MATCH_${part} GREATER 65535)
      message(FATAL_ERROR "${ZUL_GIT_DESCRIBE}: a part of a file version is at most 65535")
    endif()
  endforeach()
  set(ZUL_VERSION ${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3}.${CMAKE_MATCH_4})
  set(ZUL_VERSION_TEXT "${ZUL_VERSION} (${ZUL_GIT_DESCRIBE})")
elseif(ZUL_GIT_HASH)
  set(ZUL_VERSION_TEXT "0.0.0.0 (untagged ${ZUL_GIT_HASH})")
endif()

# Dated from the commit, so that two builds of it are the same bytes.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND ZUL_GIT_TIME)
  set(ENV{SOURCE_DATE_EPOCH} ${ZUL_GIT_TIME})
endif()
string(TIMESTAMP ZUL_COPYRIGHT_YEAR "%Y" UTC)

# A new commit or checkout configures again (HEAD's reflog grows with each).
zul_git(ZUL_GIT_HEAD_LOG rev-parse --path-format=absolute --git-path logs/HEAD)
if(ZUL_GIT_HEAD_LOG AND EXISTS "${ZUL_GIT_HEAD_LOG}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${ZUL_GIT_HEAD_LOG}")
endif()
