# Runs the conformance exe on the stand-in: a fresh sysroot (windows directory and
# registry.reg = devices.reg) and a scratch temporary directory.
# cmake -DEXE=<exe> -DREG=<devices.reg> -DWORK=<dir> -P run-native.cmake
foreach(var EXE REG WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run-native.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/sysroot/windows/twain_32" "${WORK}/tmp")
file(COPY_FILE "${REG}" "${WORK}/sysroot/registry.reg")

# The stand-in's environment as standin_env in tests/harness/machine.py gives it:
# the sysroot, every account's temp directory, the default station (WinSta0).
set(ENV{ZULFUNCTS_SYSROOT} "${WORK}/sysroot")
set(ENV{TMPDIR} "${WORK}/tmp/")
set(ENV{SystemTemp} "${WORK}/tmp/")
unset(ENV{ZULFUNCTS_WINDOW_STATION})
unset(ENV{ZULFUNCTS_CMDLINE})
execute_process(COMMAND "${EXE}" RESULT_VARIABLE rc)
if(NOT rc STREQUAL "0")
  message(FATAL_ERROR "conformance failed: ${rc}")
endif()
