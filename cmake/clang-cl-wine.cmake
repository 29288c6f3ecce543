# Cross build of the Windows DLL and its tests in the host's own C++ ABI (Microsoft's): clang-cl
# and lld-link in MSVC mode, against Wine's C runtime and Windows headers and import libraries
# (libwine-dev), libc++ 14 as scripts/deps builds it into .deps, and our start-up library
# (startup/). The binaries import only Windows 10's ucrtbase.dll, the Visual C++ 2015-2022
# runtime (vcruntime140.dll, msvcp140.dll) and system DLLs. Test programs run under Wine.
#
# VANTREL_MSVC_ARCH picks x64 (the windows-msvc preset) or x86 (windows-msvc-x86).
set(VANTREL_MSVC_ARCH x64 CACHE STRING "Target architecture of the MSVC-ABI build: x64 or x86")
# The compiler checks read this file again in projects of their own: hand them the choice.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VANTREL_MSVC_ARCH)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 10.0)
if(VANTREL_MSVC_ARCH STREQUAL "x86")
  set(CMAKE_SYSTEM_PROCESSOR X86)
  set(vantrel_target i686-pc-windows-msvc)
  set(vantrel_arch_flags "/arch:SSE2")
  set(vantrel_link_flags "/machine:x86 /safeseh")
  set(vantrel_wine_lib_default /usr/lib/i386-linux-gnu/wine/i386-windows)
else()
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
  set(vantrel_target x86_64-pc-windows-msvc)
  set(vantrel_arch_flags "")
  set(vantrel_link_flags "/machine:x64")
endif()

get_filename_component(vantrel_root ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(VANTREL_CLANG_CL clang-cl-14 CACHE FILEPATH "clang in MSVC mode")
set(VANTREL_LLD_LINK lld-link-14 CACHE FILEPATH "LLVM's linker in MSVC mode")
set(VANTREL_LLVM_LIB llvm-lib-14 CACHE FILEPATH "LLVM's librarian in MSVC mode")
set(VANTREL_LLVM_RC llvm-rc-14 CACHE FILEPATH "LLVM's resource compiler")
set(VANTREL_LLVM_READOBJ llvm-readobj-14 CACHE FILEPATH
    "Reads the DLL's exports and imports for the suite's check (scripts/check-dll)")
set(VANTREL_WINE_INCLUDE /usr/include/wine/wine CACHE PATH
    "Wine's headers: msvcrt/ (the C runtime) and windows/ (the Windows API)")
set(VANTREL_LIBCXX_DIR ${vantrel_root}/.deps/libcxx-msvc-${VANTREL_MSVC_ARCH} CACHE PATH
    "libc++ as scripts/build-libcxx made it: include/c++/v1, lib/, winlib/ (Wine's import libraries)")
set(VANTREL_WINDOWS_COMPAT_INCLUDE ${vantrel_root}/startup/include CACHE PATH
    "Declarations that Wine's headers lack, forced in")

set(CMAKE_C_COMPILER ${VANTREL_CLANG_CL})
set(CMAKE_CXX_COMPILER ${VANTREL_CLANG_CL})
set(CMAKE_LINKER ${VANTREL_LLD_LINK})
set(CMAKE_AR ${VANTREL_LLVM_LIB})
set(CMAKE_RC_COMPILER ${VANTREL_LLVM_RC})
set(CMAKE_C_COMPILER_TARGET ${vantrel_target})
set(CMAKE_CXX_COMPILER_TARGET ${vantrel_target})
# The C runtime comes from the flags below, not from a /MD or /MT choice.
set(CMAKE_MSVC_RUNTIME_LIBRARY "")
# The compiler checks compile only: a program links only with the start-up library, which the
# project builds.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# /Zl: no default library names in the objects (they would be Microsoft's static runtime; the
# start-up library stands in for it, stack buffer checks included). WINE_UNICODE_NATIVE makes WCHAR
# wchar_t as in Microsoft's headers; Wine's winnt.h would define a builtin of clang-cl's again.
set(vantrel_sys_flags
  "--target=${vantrel_target} ${vantrel_arch_flags} /Zl -DWINE_UNICODE_NATIVE \
-D_InterlockedCompareExchange128=__wine_InterlockedCompareExchange128 \
/imsvc ${VANTREL_WINE_INCLUDE}/msvcrt /imsvc ${VANTREL_WINE_INCLUDE}/windows \
/imsvc ${VANTREL_WINDOWS_COMPAT_INCLUDE} /FI ${VANTREL_WINDOWS_COMPAT_INCLUDE}/wine_ucrt_compat.h")
if(VANTREL_MSVC_ARCH STREQUAL "x86")
  set(vantrel_sys_flags "/FI ${VANTREL_WINDOWS_COMPAT_INCLUDE}/wine_x86_compat.h ${vantrel_sys_flags}")
endif()
set(CMAKE_C_FLAGS_INIT "${vantrel_sys_flags}")
# libc++'s headers first: its <cstdlib> and the like wrap the C runtime's.
set(CMAKE_CXX_FLAGS_INIT "/external:I ${VANTREL_LIBCXX_DIR}/include/c++/v1 ${vantrel_sys_flags}")

# Where two DLLs export a function, the first library named wins: the Visual C++ runtime's
# exception handling and memory functions come from vcruntime140.dll, as with Microsoft's linker.
set(vantrel_libs "${VANTREL_LIBCXX_DIR}/lib/libc++.lib \
${VANTREL_LIBCXX_DIR}/lib/msvcp140_exception_ptr.lib vcruntime140.lib ucrtbase.lib msvcp140.lib \
kernel32.lib ntdll.lib")
set(CMAKE_C_STANDARD_LIBRARIES "${vantrel_libs}" CACHE STRING "" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "${vantrel_libs}" CACHE STRING "" FORCE)
set(vantrel_link "/nodefaultlib /manifest:no ${vantrel_link_flags} \
/libpath:${VANTREL_LIBCXX_DIR}/winlib")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${vantrel_link} /subsystem:console /entry:mainCRTStartup")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${vantrel_link} /entry:_DllMainCRTStartup")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${vantrel_link} /entry:_DllMainCRTStartup")

# GoogleTest on Win32 threads: no pthreads library to look for.
set(gtest_disable_pthreads ON CACHE BOOL "GoogleTest without pthreads")

# The project links the start-up library into every program and DLL.
set(VANTREL_MSVC_STARTUP ON)

set(CMAKE_FIND_ROOT_PATH ${VANTREL_LIBCXX_DIR})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Test programs run under Wine, in a prefix of this build's own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run --build ${CMAKE_BINARY_DIR})
