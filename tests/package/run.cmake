# Installs a build tree into a scratch prefix, then configures, builds and
# runs the consumer project against it, and runs the installed console.
# Inputs: BUILD_DIR, SOURCE_DIR, WORK_DIR, GENERATOR, CXX_COMPILER, CXX_FLAGS,
# WITH_WIDGETS, PLUGIN_DIR (where the Designer plug-in installs, relative to
# the prefix or absolute; empty without it);
# the environment of the widget tests (offscreen Qt) comes from CTest.
include(${CMAKE_CURRENT_LIST_DIR}/RunCommand.cmake)

file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}")
run(${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/build" -G "${GENERATOR}"
    "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}"
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" -DCMAKE_BUILD_TYPE=Release "-DWITH_WIDGETS=${WITH_WIDGETS}")
run(${CMAKE_COMMAND} --build "${WORK_DIR}/build")
run("${WORK_DIR}/build/zorvex_consumer")
if(WITH_WIDGETS)
  run("${WORK_DIR}/build/zorvex_widgets_consumer")
  run("${prefix}/bin/zorvex-workbench" --version)
endif()
if(PLUGIN_DIR)
  if(NOT IS_ABSOLUTE "${PLUGIN_DIR}")
    set(PLUGIN_DIR "${prefix}/${PLUGIN_DIR}")
  endif()
  check_plugin("${WORK_DIR}/build/zorvex_plugin_check" "${PLUGIN_DIR}/libzorvex_design.so")
endif()
run("${prefix}/bin/zorvex" -e "1+2")
if(NOT run_output STREQUAL "3\n")
  message(FATAL_ERROR "installed console printed '${run_output}' for 1+2")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
