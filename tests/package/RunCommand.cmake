# run(COMMAND...): runs a command, fails the script with its output unless it
# exits 0, and leaves what it printed in run_output.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " shown "${ARGN}")
    message(FATAL_ERROR "failed (${rc}): ${shown}\n${out}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()
