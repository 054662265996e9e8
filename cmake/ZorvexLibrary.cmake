# zorvex_library(<name>
#                SOURCES <files...>
#                PUBLIC_HEADERS <files...>
#                [LINKS <targets...>])
#
# One layer of the library: a static library zorvex_<name> (zorvex::<name>)
# that consumers include as "<name>/header.h", needs C++20, links the layer
# below it, and installs its public headers and itself into the package.
function(zorvex_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_HEADERS;LINKS" ${ARGN})
  set(target zorvex_${name})
  add_library(${target} STATIC ${ARG_SOURCES})
  add_library(zorvex::${name} ALIAS ${target})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${name}
                                             POSITION_INDEPENDENT_CODE ON)
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/zorvex>)
  target_compile_features(${target} PUBLIC cxx_std_20)
  if(ARG_LINKS)
    target_link_libraries(${target} PUBLIC ${ARG_LINKS})
  endif()
  install(FILES ${ARG_PUBLIC_HEADERS}
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zorvex/${name})
  install(TARGETS ${target} EXPORT zorvexTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endfunction()
