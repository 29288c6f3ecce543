# The host library's file name is one setting (VANTREL_HOST_LIBRARY). Proven here once with another
# name, without a second build tree: the module and the stand-in linked again from the same objects
# with the stand-in named OtherHost.dll, in other-host/ (beside bin/, so that a scan of bin/ and
# its folders by scripts/check-host meets one stand-in) with the module-loading and ABI test
# programs, which load that module and must pass there as they do in bin/.
if(NOT MSVC OR NOT TARGET HostApiOther)
  return()
endif()
set(other_host_dir ${CMAKE_BINARY_DIR}/other-host)

add_library(VantrelEffectOtherHost MODULE $<TARGET_OBJECTS:VantrelEffect>)
target_link_libraries(VantrelEffectOtherHost PRIVATE vantrel_core)
set_target_properties(VantrelEffectOtherHost PROPERTIES OUTPUT_NAME VantrelEffect PREFIX ""
  VANTREL_OTHER_HOST ON LIBRARY_OUTPUT_DIRECTORY ${other_host_dir}
  RUNTIME_OUTPUT_DIRECTORY ${other_host_dir} ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib/other-host)

foreach(name ModuleLoadTest MsvcAbiTest)
  if(NOT TARGET ${name})
    continue()
  endif()
  add_executable(${name}OtherHost $<TARGET_OBJECTS:${name}>)
  target_link_libraries(${name}OtherHost PRIVATE test_support)
  set_target_properties(${name}OtherHost PROPERTIES OUTPUT_NAME ${name} VANTREL_OTHER_HOST ON
    RUNTIME_OUTPUT_DIRECTORY ${other_host_dir})
  add_dependencies(${name}OtherHost VantrelEffectOtherHost HostApiOther)
  add_test(NAME ${name}.OtherHost COMMAND ${name}OtherHost WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  set_tests_properties(${name}.OtherHost PROPERTIES TIMEOUT ${VANTREL_TEST_TIMEOUT}
                       RESOURCE_LOCK vantrel_console)
endforeach()

# The module imports from OtherHost.dll alone, as check-dll reads it.
add_test(NAME ModuleDllInterface.OtherHost
         COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/check-dll --host-library OtherHost.dll
                 $<TARGET_FILE:VantrelEffectOtherHost> ${VANTREL_MSVC_ARCH})
set_tests_properties(ModuleDllInterface.OtherHost PROPERTIES ENVIRONMENT
                     "VANTREL_LLVM_READOBJ=${VANTREL_LLVM_READOBJ}")
