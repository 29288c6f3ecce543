# The module binds to its host's library by what that library exports, whatever its file name.
# Proven with the very DLL of bin/, byte for byte the one scripts/package zips: copied into two
# folders beside bin/ (so that a scan of bin/ and its folders by the host check meets one stand-in),
# each with the stand-in under another file name (OtherHost.dll, LiveCore.dll) and the
# module-loading and ABI test programs linked against it, which load that copy and must pass there
# as they do in bin/.
if(NOT MSVC OR NOT TARGET HostApiOther OR NOT TARGET HostApiThird)
  return()
endif()

function(vantrel_other_host host folder label)
  set(dir ${CMAKE_BINARY_DIR}/${folder})
  # Copied again whenever the module is built again, though the test programs are not relinked
  # (a change to plugin/HostBinding.cpp relinks the module alone).
  add_custom_command(OUTPUT ${dir}/VantrelEffect.dll
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:VantrelEffect> ${dir}/
    DEPENDS VantrelEffect VERBATIM)
  add_custom_target(VantrelEffect${label} DEPENDS ${dir}/VantrelEffect.dll)
  foreach(name ModuleLoadTest MsvcAbiTest)
    if(NOT TARGET ${name})
      continue()
    endif()
    set(target ${name}${label})
    add_executable(${target} $<TARGET_OBJECTS:${name}>)
    target_link_libraries(${target} PRIVATE test_support)
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${name} VANTREL_HOST_TARGET ${host}
      RUNTIME_OUTPUT_DIRECTORY ${dir})
    add_dependencies(${target} VantrelEffect${label} ${host})
    add_test(NAME ${name}.${label} COMMAND ${target} WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
    set_tests_properties(${name}.${label} PROPERTIES TIMEOUT ${VANTREL_TEST_TIMEOUT}
                         RESOURCE_LOCK vantrel_console)
  endforeach()
endfunction()
vantrel_other_host(HostApiOther other-host OtherHost)
vantrel_other_host(HostApiThird other-host-2 LiveCore)
