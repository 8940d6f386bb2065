# zorvex_library(<target> COMPONENT <component> EXPORT <export set>
#                DEFINE <macro> HEADERS <header>...)
# Makes a shared library target one of the project's libraries, all alike:
# only what its headers mark for export is visible (and calls inside it are
# not interposed), it carries the project's
# version, <macro> is defined while it builds, and it installs its headers
# (names in include/zorvex) with <component>_dev and itself with <component>.
function(zorvex_library name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "COMPONENT;EXPORT;DEFINE" "HEADERS")
  list(TRANSFORM arg_HEADERS PREPEND ${PROJECT_SOURCE_DIR}/include/zorvex/)
  add_library(Zorvex::${name} ALIAS ${name})
  set_target_properties(${name} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_compile_definitions(${name} PRIVATE ${arg_DEFINE})
  # Calls inside the library to its own exported functions may be inlined:
  # nobody is meant to interpose them, and the hot paths pay for the PLT.
  target_compile_options(${name} PRIVATE -fno-semantic-interposition)
  target_sources(${name} PUBLIC FILE_SET HEADERS BASE_DIRS ${PROJECT_SOURCE_DIR}/include FILES ${arg_HEADERS})
  install(TARGETS ${name} EXPORT ${arg_EXPORT}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${arg_COMPONENT} NAMELINK_COMPONENT ${arg_COMPONENT}_dev
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${arg_COMPONENT}_dev
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${arg_COMPONENT}
    FILE_SET HEADERS COMPONENT ${arg_COMPONENT}_dev)
endfunction()
