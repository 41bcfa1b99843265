# Runs the canary's scenarios: the three with a sanitizer report must fail,
# the plain refusal must pass.
execute_process(COMMAND ${RUNNER} --backend native --program ${CANARY} ${SCENARIOS}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
message("${out}")
foreach(line "FAIL leak" "FAIL overflow" "PASS refused" "FAIL undefined")
  string(FIND "${out}" "${line}\n" pos)
  if(pos EQUAL -1)
    message(FATAL_ERROR "expected '${line}': a sanitizer report does not fail a scenario\n${err}")
  endif()
endforeach()
