# vantrel_host_layout(TARGET): puts our slot layout of host/'s classes into TARGET's .hostfit
# section, where the host check (hostfit/) reads it, in the module at load and in fxhostcheck from
# the DLL on disk. scripts/host-layout has the build's own compiler lay the classes out, with the
# build's flags; the source it writes is compiled into TARGET, and /INCLUDE keeps the section
# though no code refers to it. Only clang-cl can dump its layouts: elsewhere (MinGW, Linux,
# Microsoft's compiler) the module carries none, and the check says so.
function(vantrel_host_layout target)
  if(NOT (MSVC AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang"))
    return()
  endif()
  set(output ${CMAKE_BINARY_DIR}/generated/HostLayout.cpp)
  # One rule makes the source, whichever targets (the module, a relinked copy of it) take it.
  get_property(made GLOBAL PROPERTY VANTREL_HOST_LAYOUT_RULE)
  if(NOT made)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    file(GLOB host_headers ${CMAKE_SOURCE_DIR}/host/*.h)
    separate_arguments(flags NATIVE_COMMAND "${CMAKE_CXX_FLAGS}")
    add_custom_command(OUTPUT ${output}
      COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/scripts/host-layout
              --root ${CMAKE_SOURCE_DIR} --output ${output}
              -- ${CMAKE_CXX_COMPILER} ${flags} /std:c++17
      DEPENDS ${CMAKE_SOURCE_DIR}/scripts/host-layout ${host_headers}
      COMMENT "Laying out host/'s classes for the host check"
      VERBATIM)
    add_custom_target(vantrel_host_layout_source DEPENDS ${output})
    set_property(GLOBAL PROPERTY VANTREL_HOST_LAYOUT_RULE ON)
  endif()
  target_sources(${target} PRIVATE ${output})
  set_source_files_properties(${output} TARGET_DIRECTORY ${target} PROPERTIES GENERATED ON)
  add_dependencies(${target} vantrel_host_layout_source)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${target} PRIVATE /INCLUDE:_vantrel_host_layout)
  else()
    target_link_options(${target} PRIVATE /INCLUDE:vantrel_host_layout)
  endif()
endfunction()
