# Installs the runtime and its development files into a scratch prefix, then
# builds the embedding example against them as its documentation says and
# runs it: it must print what its .out file holds.
# Inputs: BUILD_DIR, SOURCE_DIR (the example), WORK_DIR, GENERATOR,
# CXX_COMPILER, CXX_FLAGS.
include(${CMAKE_CURRENT_LIST_DIR}/RunCommand.cmake)

file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
foreach(component runtime runtime_dev)
  run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}" --component ${component})
endforeach()
run(${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/build" -G "${GENERATOR}"
    "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}"
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build "${WORK_DIR}/build")
run("${WORK_DIR}/build/embed")
file(READ "${SOURCE_DIR}/embed.out" expected)
if(NOT run_output STREQUAL expected)
  message(FATAL_ERROR "the example printed:\n${run_output}\ninstead of:\n${expected}")
endif()
message(STATUS "built from ${prefix} and run:\n${run_output}")
file(REMOVE_RECURSE "${WORK_DIR}")
