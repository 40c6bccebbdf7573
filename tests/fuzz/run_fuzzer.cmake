# SPDX-License-Identifier: MIT
# Runs one fuzz target for SECONDS seconds: a fresh working corpus first
# (where libFuzzer writes what it finds), the committed seeds second.
# The fuzzer's whole output goes to WORK/fuzz.log; shown here are its final
# counts, or the whole log when it found something. Crashing inputs are
# kept in WORK/artifacts/.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/artifacts)
set(log ${WORK}/fuzz.log)
execute_process(
  COMMAND ${FUZZER}
    -max_total_time=${SECONDS} -max_len=${MAX_LEN} -timeout=30 -print_final_stats=1
    -artifact_prefix=${WORK}/artifacts/
    ${WORK}/corpus ${SEEDS}
  RESULT_VARIABLE result
  OUTPUT_FILE ${log}
  ERROR_FILE ${log})
if(NOT result EQUAL 0)
  file(READ ${log} output)
  message("${output}")
  message(FATAL_ERROR "${FUZZER} failed (${result}); the input is in ${WORK}/artifacts/")
endif()
file(STRINGS ${log} summary REGEX "^(#[0-9]+[ \t]+(INITED|DONE)|Done |stat::)")
foreach(line IN LISTS summary)
  message("${line}")
endforeach()
