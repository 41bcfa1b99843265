# Run on every build (cmake -P) to write the version header and the manifest
# of the exe; a file is rewritten only when its text changes, so an unchanged
# checkout neither recompiles nor relinks. Takes
#   ZUL_SOURCE_DIR   the checkout
#   ZUL_OUTPUT_DIR   where ZULFunctsVersion.h and ZULFuncts.manifest go
#   ZUL_MANIFEST_IN  the manifest's template
# The version is VERSION's X.Y.Z and, as fourth field, the commits since
# VERSION last changed. Without git (a source archive) the fourth field is 0
# and the commit unknown.
function(zul_git var)
  execute_process(COMMAND git --no-optional-locks ${ARGN} WORKING_DIRECTORY ${ZUL_SOURCE_DIR}
    OUTPUT_VARIABLE out RESULT_VARIABLE rc ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    set(out "")
  endif()
  set(${var} "${out}" PARENT_SCOPE)
endfunction()

file(STRINGS ${ZUL_SOURCE_DIR}/VERSION version LIMIT_COUNT 1)
string(STRIP "${version}" version)
set(count 0)
set(commit "unknown commit")
set(private "")
zul_git(head rev-parse --short=12 HEAD)
if(head)
  set(commit "g${head}")
  zul_git(changed log -1 --format=%H -- VERSION)
  if(changed)
    zul_git(count rev-list --count ${changed}..HEAD)
  endif()
  # Tracked files only: a stray untracked file does not change the build.
  zul_git(status status --porcelain --untracked-files=no)
  if(status)
    set(private "Built from a checkout with uncommitted changes")
  endif()
  zul_git(time log -1 --format=%ct)
  # Dated from the commit, so that two builds of it are the same bytes.
  if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND time)
    set(ENV{SOURCE_DATE_EPOCH} ${time})
  endif()
endif()
if(count GREATER 65535)
  message(FATAL_ERROR "${count} commits since VERSION changed: a part of a file version is at most 65535")
endif()
string(TIMESTAMP year "%Y" UTC)

set(ZUL_VERSION_QUAD ${version}.${count})
string(REPLACE "." "," commas ${ZUL_VERSION_QUAD})
if(private)
  set(flags "VS_FF_PRIVATEBUILD")
  set(private_line "#define ZUL_PRIVATE_BUILD \"${private}\"\n")
else()
  set(flags "0x0L")
  set(private_line "")
endif()
set(text "// Generated on every build by cmake/ZulVersionHeader.cmake.
#pragma once
#define ZUL_VERSION_COMMAS ${commas}
#define ZUL_VERSION_QUAD \"${ZUL_VERSION_QUAD}\"
#define ZUL_VERSION_TEXT \"${ZUL_VERSION_QUAD} (${commit})\"
#define ZUL_FILE_FLAGS ${flags}
${private_line}#define ZUL_COPYRIGHT \"Copyright (C) ${year} The ZULFuncts developers\"
")
file(CONFIGURE OUTPUT ${ZUL_OUTPUT_DIR}/ZULFunctsVersion.h CONTENT "${text}")
configure_file(${ZUL_MANIFEST_IN} ${ZUL_OUTPUT_DIR}/ZULFuncts.manifest @ONLY)
