# SPDX-License-Identifier: MIT
# The test man_pages: every page passes mandoc -T lint without a message
# (skipped when mandoc is not installed).
find_program(MANDOC mandoc)
if(NOT MANDOC)
  message("mandoc is not installed: manual pages not checked (apt-get install mandoc)")
  return()
endif()
string(REPLACE "," ";" PAGES "${PAGES}")
execute_process(COMMAND ${MANDOC} -T lint ${PAGES} OUTPUT_VARIABLE out ERROR_VARIABLE out RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT out STREQUAL "")
  message(FATAL_ERROR "mandoc -T lint:\n${out}")
endif()
list(LENGTH PAGES count)
message("${count} manual pages checked")
