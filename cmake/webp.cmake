# libwebp, linked the same way by every build that carries WebP:
#   vantrel_webp_decode  the decoder, the container reader and the animation decoder (what the
#                        module links)
#   vantrel_webp         that, with the encoder and the container and animation writer (tools,
#                        tests)
# Linux links Debian's libwebp (libwebp-dev). The MSVC-ABI builds link the static libraries that
# scripts/build-libwebp makes from Debian's source package for their architecture. The MinGW
# build (the windows preset) has no WebP: VANTREL_HAVE_WEBP is OFF there and the targets do not
# exist.
set(VANTREL_HAVE_WEBP OFF)
if(VANTREL_MSVC_STARTUP)
  set(VANTREL_LIBWEBP_DIR ${VANTREL_DEPS_DIR}/libwebp-msvc-${VANTREL_MSVC_ARCH} CACHE PATH
      "libwebp as scripts/build-libwebp made it: include/webp, lib/webp{decoder,demux,encoder,mux}.lib")
  if(NOT EXISTS ${VANTREL_LIBWEBP_DIR}/lib/webpdecoder.lib)
    message(FATAL_ERROR "libwebp not found in ${VANTREL_LIBWEBP_DIR}: run scripts/deps first")
  endif()
  foreach(part decoder demux encoder mux)
    add_library(vantrel_libwebp_${part} STATIC IMPORTED)
    set_target_properties(vantrel_libwebp_${part} PROPERTIES
      IMPORTED_LOCATION ${VANTREL_LIBWEBP_DIR}/lib/webp${part}.lib
      INTERFACE_INCLUDE_DIRECTORIES ${VANTREL_LIBWEBP_DIR}/include)
  endforeach()
  add_library(vantrel_webp_decode INTERFACE)
  target_link_libraries(vantrel_webp_decode INTERFACE vantrel_libwebp_demux vantrel_libwebp_decoder)
  add_library(vantrel_webp INTERFACE)
  target_link_libraries(vantrel_webp INTERFACE vantrel_webp_decode vantrel_libwebp_mux
                        vantrel_libwebp_encoder)
  set(VANTREL_HAVE_WEBP ON)
elseif(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LIBWEBP IMPORTED_TARGET libwebp libwebpdemux libwebpmux)
  if(NOT LIBWEBP_FOUND)
    message(FATAL_ERROR "libwebp not found (libwebp-dev): run scripts/deps first")
  endif()
  # Debian's libwebp holds decoder and encoder in one library.
  add_library(vantrel_webp_decode INTERFACE)
  target_link_libraries(vantrel_webp_decode INTERFACE PkgConfig::LIBWEBP)
  add_library(vantrel_webp INTERFACE)
  target_link_libraries(vantrel_webp INTERFACE PkgConfig::LIBWEBP)
  set(VANTREL_HAVE_WEBP ON)
endif()
