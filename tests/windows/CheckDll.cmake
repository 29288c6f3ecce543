# scripts/check-dll refuses a DLL that imports a function Microsoft's DLL does not export, and
# names it: a tiny DLL linked against an import library that claims kernel32.dll has one more.
if(NOT MSVC)
  return()
endif()
set(VANTREL_LLVM_DLLTOOL llvm-dlltool-14 CACHE FILEPATH "LLVM's import library maker")
if(VANTREL_MSVC_ARCH STREQUAL "x86")
  set(dlltool_machine i386)
else()
  set(dlltool_machine i386:x86-64)
endif()
set(unlisted_lib ${CMAKE_BINARY_DIR}/lib/unlisted-kernel32.lib)
add_custom_command(OUTPUT ${unlisted_lib}
  COMMAND ${VANTREL_LLVM_DLLTOOL} -m ${dlltool_machine}
          -d ${CMAKE_CURRENT_SOURCE_DIR}/windows/checkdll/unlisted-kernel32.def -l ${unlisted_lib}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/windows/checkdll/unlisted-kernel32.def VERBATIM)
add_custom_target(unlisted_kernel32_lib DEPENDS ${unlisted_lib})
add_library(check_dll_unlisted MODULE ${CMAKE_CURRENT_SOURCE_DIR}/windows/checkdll/Unlisted.c)
target_link_libraries(check_dll_unlisted PRIVATE ${unlisted_lib})
add_dependencies(check_dll_unlisted unlisted_kernel32_lib)
set_target_properties(check_dll_unlisted PROPERTIES LIBRARY_OUTPUT_DIRECTORY
                      ${CMAKE_BINARY_DIR}/checkdll)
add_test(NAME ModuleDllInterface.RefusesUnlistedImport
  COMMAND bash -c "out=$(bash \"$0\" \"$1\" \"$2\" 2>&1); status=$?; echo \"$out\"; [ $status = 1 ] && grep -q 'imports VantrelNoSuchFunction from kernel32.dll, which Microsoft' <<<\"$out\""
          ${CMAKE_SOURCE_DIR}/scripts/check-dll $<TARGET_FILE:check_dll_unlisted> ${VANTREL_MSVC_ARCH})
set_tests_properties(ModuleDllInterface.RefusesUnlistedImport PROPERTIES ENVIRONMENT
                     "VANTREL_LLVM_READOBJ=${VANTREL_LLVM_READOBJ}")
