# What an installation brings besides the libraries and programs (pkg-config
# files, man pages, bash completion, docs and examples), and the Debian
# packages that CPack makes of it all (scripts/package.sh).
#
# Install components, one per package:
#   runtime      libzorvex-runtime<SOVERSION>  the runtime library
#   runtime_dev  libzorvex-dev                 its headers, link name, CMake package, zorvex.pc
#   widgets      libzorvex-widgets<SOVERSION>  the Qt edit controls
#   dialogs      libzorvex-dialogs<SOVERSION>  the Qt editor dialogs
#   widgets_dev, dialogs_dev
#                libzorvex-widgets-dev         their headers, link names, CMake package, .pc files
#   designer     zorvex-designer-plugin        the Qt Designer plug-in
#   console      zorvex                        the console, its man page, completion, docs, examples
#   workbench    zorvex-workbench              the workbench and its man page

set(ZORVEX_PACKAGE_MAINTAINER "Zorvex Developers <developers@zorvex.invalid>" CACHE STRING
  "Maintainer named in the Debian packages")
set(ZORVEX_INSTALL_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/zorvex")
if(IS_ABSOLUTE "${ZORVEX_INSTALL_DOCDIR}")
  set(ZORVEX_FULL_DOCDIR "${ZORVEX_INSTALL_DOCDIR}")
else()
  set(ZORVEX_FULL_DOCDIR "${CMAKE_INSTALL_PREFIX}/${ZORVEX_INSTALL_DOCDIR}")
endif()
# Honours SOURCE_DATE_EPOCH, so that a rebuild makes the same files.
string(TIMESTAMP ZORVEX_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP ZORVEX_RELEASE_YEAR "%Y" UTC)
string(TIMESTAMP ZORVEX_RELEASE_TIME "%a, %d %b %Y %H:%M:%S +0000" UTC)
find_program(ZORVEX_GZIP gzip REQUIRED)
set(packaging_dir "${CMAKE_BINARY_DIR}/packaging")

# Man pages and the Debian changelog are installed compressed, as man and
# dpkg expect; -n keeps the build time out of them.
set(compressed_files)
function(zorvex_compress file)
  add_custom_command(OUTPUT "${file}.gz"
    COMMAND "${ZORVEX_GZIP}" -9 -n -k -f "${file}"
    DEPENDS "${file}" VERBATIM)
  set(compressed_files ${compressed_files} "${file}.gz" PARENT_SCOPE)
endfunction()

# pkg-config files name the prefix given to `cmake --install`, so they are
# written when installing, straight to their destination.
function(zorvex_install_pkgconfig name component)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(libdir "${CMAKE_INSTALL_LIBDIR}")
  else()
    set(libdir "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  endif()
  if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
    set(includedir "${CMAKE_INSTALL_INCLUDEDIR}")
  else()
    set(includedir "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
  endif()
  install(CODE "
    set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
    set(libdir [[${libdir}]])
    set(includedir [[${includedir}]])
    set(PROJECT_VERSION ${PROJECT_VERSION})
    if(IS_ABSOLUTE [[${CMAKE_INSTALL_LIBDIR}]])
      set(pc [[${CMAKE_INSTALL_LIBDIR}/pkgconfig/${name}.pc]])
    else()
      set(pc \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/${name}.pc\")
    endif()
    message(STATUS \"Installing: \$ENV{DESTDIR}\${pc}\")
    file(READ [[${PROJECT_SOURCE_DIR}/cmake/pkgconfig/${name}.pc.in]] template)
    file(CONFIGURE OUTPUT \"\$ENV{DESTDIR}\${pc}\" CONTENT \"\${template}\" @ONLY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${pc}\")
    " COMPONENT ${component})
endfunction()

zorvex_install_pkgconfig(zorvex runtime_dev)
if(TARGET zorvex_widgets)
  zorvex_install_pkgconfig(zorvex-widgets widgets_dev)
  zorvex_install_pkgconfig(zorvex-dialogs dialogs_dev)
endif()

# Man pages, with the version and folders of this build.
foreach(program zorvex zorvex-workbench)
  if(NOT TARGET ${program})
    continue()
  endif()
  configure_file("${PROJECT_SOURCE_DIR}/docs/man/${program}.1.in" "${packaging_dir}/man/${program}.1" @ONLY)
  zorvex_compress("${packaging_dir}/man/${program}.1")
endforeach()
install(FILES "${packaging_dir}/man/zorvex.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT console)
if(TARGET zorvex-workbench)
  install(FILES "${packaging_dir}/man/zorvex-workbench.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1"
    COMPONENT workbench)
endif()

install(FILES "${PROJECT_SOURCE_DIR}/apps/zorvex/zorvex.bash-completion"
  DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions" RENAME zorvex COMPONENT console)

file(GLOB docs CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/docs/*.md")
install(FILES ${docs} DESTINATION "${ZORVEX_INSTALL_DOCDIR}" COMPONENT console)
file(GLOB examples CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/examples/*.zx" "${PROJECT_SOURCE_DIR}/examples/*.out")
install(FILES ${examples} DESTINATION "${ZORVEX_INSTALL_DOCDIR}/examples" COMPONENT console)

# The Debian packages. Each has its copyright file and changelog; these go
# into packages only, not into `cmake --install`.
set(soversion ${PROJECT_VERSION_MAJOR})
set(package_runtime libzorvex-runtime${soversion})
set(package_runtime_dev libzorvex-dev)
set(package_widgets libzorvex-widgets${soversion})
set(package_dialogs libzorvex-dialogs${soversion})
set(package_qt_dev libzorvex-widgets-dev)
set(package_designer zorvex-designer-plugin)
set(package_console zorvex)
set(package_workbench zorvex-workbench)

configure_file("${PROJECT_SOURCE_DIR}/packaging/copyright.in" "${packaging_dir}/copyright" @ONLY)
configure_file("${PROJECT_SOURCE_DIR}/packaging/changelog.in" "${packaging_dir}/changelog" @ONLY)
zorvex_compress("${packaging_dir}/changelog")
add_custom_target(zorvex_distribution_files ALL DEPENDS ${compressed_files})

set(packages runtime runtime_dev console)
if(TARGET zorvex_widgets)
  list(APPEND packages widgets dialogs qt_dev workbench)
endif()
if(TARGET zorvex_design)
  list(APPEND packages designer)
endif()
foreach(package IN LISTS packages)
  # The Qt development package gathers two components; its files go with
  # the first.
  set(component ${package})
  if(package STREQUAL "qt_dev")
    set(component widgets_dev)
  endif()
  install(FILES "${packaging_dir}/copyright" "${packaging_dir}/changelog.gz"
    DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${package_${package}}"
    COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

# dpkg-shlibdeps turns each library a binary needs into a dependency through
# the library's shlibs entry. For our own libraries, not installed yet, it
# finds the entries in a package root made for it here.
set(shlibs_root "${packaging_dir}/shlibs")
set(shlibs "")
foreach(library runtime widgets dialogs)
  if(TARGET zorvex_${library})
    string(APPEND shlibs "libzorvex_${library} ${soversion} ${package_${library}} (>= ${PROJECT_VERSION})\n")
    file(MAKE_DIRECTORY "${shlibs_root}/lib")
    file(CREATE_LINK "${CMAKE_LIBRARY_OUTPUT_DIRECTORY}/libzorvex_${library}.so.${soversion}"
      "${shlibs_root}/lib/libzorvex_${library}.so.${soversion}" SYMBOLIC)
  endif()
endforeach()
file(WRITE "${shlibs_root}/DEBIAN/shlibs" "${shlibs}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorvex)
set(CPACK_PACKAGE_VENDOR "Zorvex")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZORVEX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${shlibs_root}/lib")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)

foreach(package IN LISTS packages)
  string(TOUPPER ${package} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package_${package}})
endforeach()
set(CPACK_COMPONENT_WIDGETS_DEV_GROUP qt_dev)
set(CPACK_COMPONENT_DIALOGS_DEV_GROUP qt_dev)

# Dependencies between the packages that no binary shows: development files
# need their library and the headers they include.
# (CPack reads a group's dependencies under the group's name.)
set(CPACK_COMPONENT_RUNTIME_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_QT_DEV_DEPENDS widgets dialogs runtime_dev)
set(CPACK_DEBIAN_QT_DEV_PACKAGE_DEPENDS "qt6-base-dev")
# The documentation comes with the console.
set(CPACK_DEBIAN_WORKBENCH_PACKAGE_SUGGESTS ${package_console})

# The loader's cache is refreshed by dpkg's trigger when a library arrives.
foreach(library RUNTIME WIDGETS DIALOGS)
  set(CPACK_DEBIAN_${library}_PACKAGE_CONTROL_EXTRA "${PROJECT_SOURCE_DIR}/packaging/triggers")
endforeach()

set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_WIDGETS_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DIALOGS_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_QT_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DESIGNER_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_CONSOLE_PACKAGE_SECTION math)
set(CPACK_DEBIAN_WORKBENCH_PACKAGE_SECTION math)

set(about "Zorvex evaluates expressions given as text: numbers, strings and Booleans,
operators, variables, user functions defined in the language itself and 75
built-in functions. Its symbol tables are saved and loaded as expression text.")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "expression evaluator library for C++
${about}
.
This package contains the shared library.")
set(CPACK_DEBIAN_RUNTIME_DEV_DESCRIPTION "expression evaluator library for C++ - development files
${about}
.
This package contains the headers, the CMake package (find_package(Zorvex))
and the pkg-config file (zorvex) to build programs that embed the
interpreter.")
set(CPACK_DEBIAN_WIDGETS_DESCRIPTION "Qt 6 edit controls that evaluate expressions
${about}
.
This package contains the library of the Qt 6 line edit, combo box and two
console memos that evaluate what the user types, and the interpreter widget
they bind to.")
set(CPACK_DEBIAN_DIALOGS_DESCRIPTION "Qt 6 dialogs to try expressions and edit symbols
${about}
.
This package contains the library of the math editor, dump and expression
dialogs that the Qt Designer plug-in and zorvex-workbench show.")
set(CPACK_DEBIAN_QT_DEV_DESCRIPTION "Qt 6 edit controls and dialogs for expressions - development files
${about}
.
This package contains the headers, the CMake package component
(find_package(Zorvex COMPONENTS Widgets)) and the pkg-config files
(zorvex-widgets, zorvex-dialogs) of the Qt 6 edit controls and dialogs.")
set(CPACK_DEBIAN_DESIGNER_DESCRIPTION "Qt Designer plug-in for the Zorvex edit controls
${about}
.
This package puts the group Zorvex, with the interpreter and the four edit
controls, into Qt Designer's widget box and Qt Creator's form editor, with
a math editor for trying expressions and editing symbols.")
set(CPACK_DEBIAN_CONSOLE_DESCRIPTION "expression evaluator console
${about}
.
This package contains the zorvex command-line console, which evaluates
expressions from the command line, files or standard input, interactively
with line editing, completion and history; with its documentation and
worked examples.")
set(CPACK_DEBIAN_WORKBENCH_DESCRIPTION "window to try expressions and edit symbols
${about}
.
This package contains zorvex-workbench, the math editor of the Qt Designer
plug-in as a program of its own: a console, the symbols and the
interpreter's settings.")

include(CPack)
