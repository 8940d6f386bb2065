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

# check_plugin(CHECKER PLUGIN): CHECKER (main_plugin.cpp) loads the Designer
# plug-in file PLUGIN as Designer does and must list every entry.
function(check_plugin checker plugin)
  run("${checker}" "${plugin}")
  set(expected "Zorvex/zorvex::TMathInterpreterWidget Zorvex/zorvex::TMathEdit Zorvex/zorvex::TMathComboBox Zorvex/zorvex::TMathMemo Zorvex/zorvex::TMathRichEdit\n")
  if(NOT run_output STREQUAL expected)
    message(FATAL_ERROR "the plug-in ${plugin} gave '${run_output}'")
  endif()
endfunction()
