# Makes the Debian packages of a build tree in a scratch folder, unpacks them
# into a scratch root and uses them from there only: runs the console, builds
# consumers with pkg-config and with find_package, loads the Designer
# plug-in; then runs lintian on them, which must find no error.
# Inputs: BUILD_DIR, CONSUMER_DIR (the find_package consumer project), WORK_DIR,
# GENERATOR, CXX_COMPILER, CXX_FLAGS (the consumers' warning options),
# HEADERS_DIR (the headers that must be installed), PACKAGES (the package names expected), WITH_WIDGETS, PLUGIN_DIR (where the
# plug-in installs, relative to the prefix or absolute; empty without it).
# Offscreen Qt and the scratch XDG folders come from CTest's environment.
include(${CMAKE_CURRENT_LIST_DIR}/../package/RunCommand.cmake)

file(REMOVE_RECURSE "${WORK_DIR}")
set(root "${WORK_DIR}/root")
set(tmp "${WORK_DIR}/tmp")
file(MAKE_DIRECTORY "${root}" "${tmp}")
set(scratch_env TMPDIR=${tmp} HOME=${tmp})

run(${CMAKE_COMMAND} -E env ${scratch_env} cpack --config "${BUILD_DIR}/CPackConfig.cmake" -B "${WORK_DIR}/packages")
file(GLOB debs "${WORK_DIR}/packages/*.deb")

# The packages expected, each unpacked into the one root; which package
# brings each header.
set(names)
foreach(deb IN LISTS debs)
  run(dpkg-deb --field "${deb}" Package)
  string(STRIP "${run_output}" name)
  list(APPEND names ${name})
  run(dpkg-deb --contents "${deb}")
  string(REGEX MATCHALL "usr/include/zorvex/[^\n ]+\\.h" headers "${run_output}")
  foreach(header IN LISTS headers)
    get_filename_component(header "${header}" NAME)
    if(DEFINED owner_${header})
      message(FATAL_ERROR "${header} is in ${owner_${header}} and in ${name}")
    endif()
    set(owner_${header} ${name})
  endforeach()
  run(dpkg-deb --extract "${deb}" "${root}")
endforeach()
list(SORT names)
list(SORT PACKAGES)
if(NOT names STREQUAL PACKAGES)
  message(FATAL_ERROR "made the packages '${names}', expected '${PACKAGES}'")
endif()
file(GLOB sources RELATIVE "${HEADERS_DIR}" "${HEADERS_DIR}/*.h")
foreach(header IN LISTS sources)
  if(NOT DEFINED owner_${header})
    # Without the widgets, their headers (the Qt ones) have no package.
    file(STRINGS "${HEADERS_DIR}/${header}" qt REGEX "#include <Q|ZORVEX_DIALOGS_API")
    if(WITH_WIDGETS OR NOT qt)
      message(FATAL_ERROR "no package brings zorvex/${header}")
    endif()
  endif()
  if(owner_${header} STREQUAL "libzorvex-dev")
    file(STRINGS "${HEADERS_DIR}/${header}" qt REGEX "#include <Q")
    if(qt)
      message(FATAL_ERROR "zorvex/${header} includes Qt, yet libzorvex-dev brings it")
    endif()
  endif()
endforeach()

run("${root}/usr/bin/zorvex" -e 1+1)
if(NOT run_output STREQUAL "2\n")
  message(FATAL_ERROR "the packaged console printed '${run_output}' for 1+1")
endif()

# pkg-config: the .pc files name /usr; moved to the scratch root, nothing but
# their prefix changes.
file(GLOB pcs "${root}/usr/lib/*/pkgconfig/zorvex*.pc" "${root}/usr/lib/pkgconfig/zorvex*.pc")
if(NOT pcs)
  message(FATAL_ERROR "no pkg-config file in the packages")
endif()
foreach(pc IN LISTS pcs)
  file(READ "${pc}" text)
  string(REGEX REPLACE "(^|\n)prefix=/usr\n" "\\1prefix=${root}/usr\n" moved "${text}")
  if(moved STREQUAL text)
    message(FATAL_ERROR "${pc} does not name the prefix /usr:\n${text}")
  endif()
  get_filename_component(pc_name "${pc}" NAME)
  file(WRITE "${WORK_DIR}/pkgconfig/${pc_name}" "${moved}")
  get_filename_component(pc_dir "${pc}" DIRECTORY)
  get_filename_component(libdir "${pc_dir}" DIRECTORY)
endforeach()
set(pc_env PKG_CONFIG_PATH=${WORK_DIR}/pkgconfig LD_LIBRARY_PATH=${libdir})
separate_arguments(cxx_flags UNIX_COMMAND "${CXX_FLAGS}")
function(pkg_config_consumer module source)
  run(${CMAKE_COMMAND} -E env ${pc_env} pkg-config --cflags --libs ${module})
  separate_arguments(flags UNIX_COMMAND "${run_output}")
  run("${CXX_COMPILER}" -std=c++20 ${cxx_flags} "${CONSUMER_DIR}/${source}" ${flags} -o "${WORK_DIR}/${module}-consumer")
  run(${CMAKE_COMMAND} -E env ${pc_env} "${WORK_DIR}/${module}-consumer")
endfunction()
pkg_config_consumer(zorvex main.cpp)
if(WITH_WIDGETS)
  pkg_config_consumer(zorvex-dialogs main_widgets.cpp)
endif()

# find_package, and the plug-in loaded as Designer loads it.
run(${CMAKE_COMMAND} -S "${CONSUMER_DIR}" -B "${WORK_DIR}/consumer" -G "${GENERATOR}"
    "-DCMAKE_PREFIX_PATH=${root}/usr" "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}" "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
    -DCMAKE_BUILD_TYPE=Release "-DWITH_WIDGETS=${WITH_WIDGETS}")
run(${CMAKE_COMMAND} --build "${WORK_DIR}/consumer")
run("${WORK_DIR}/consumer/zorvex_consumer")
if(WITH_WIDGETS)
  run("${WORK_DIR}/consumer/zorvex_widgets_consumer")
endif()
if(PLUGIN_DIR)
  if(NOT IS_ABSOLUTE "${PLUGIN_DIR}")
    set(PLUGIN_DIR "/usr/${PLUGIN_DIR}")
  endif()
  check_plugin("${WORK_DIR}/consumer/zorvex_plugin_check" "${root}${PLUGIN_DIR}/libzorvex_design.so")
endif()

# Lintian: errors fail, the rest is shown.
execute_process(COMMAND ${CMAKE_COMMAND} -E env ${scratch_env} lintian --tag-display-limit 0 ${debs}
  OUTPUT_VARIABLE lintian ERROR_VARIABLE lintian_errors RESULT_VARIABLE lintian_rc)
message("lintian:\n${lintian}${lintian_errors}")
if(lintian MATCHES "(^|\n)E: " OR NOT lintian_rc MATCHES "^[01]$")
  message(FATAL_ERROR "lintian found errors (exit ${lintian_rc})")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
