# The module: its code as a static library (linked into the module and into the tests), and the
# module itself, which exports nothing but its four entry points.

# The image holder's sources and the log table's formatter, which fxinspect builds too. WebP effects where the build has libwebp
# (cmake/webp.cmake); without it a .webp file is a still for the host's loader, as any other
# extension.
file(GLOB VANTREL_IMAGE_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/image/*.cpp
  ${CMAKE_SOURCE_DIR}/image/gif/*.cpp
  ${CMAKE_SOURCE_DIR}/image/webp/*.cpp
  ${CMAKE_SOURCE_DIR}/log/*.cpp)
if(VANTREL_HAVE_WEBP)
  list(FILTER VANTREL_IMAGE_SOURCES EXCLUDE REGEX ".*/image/webp/WebpAbsent\\.cpp$")
else()
  list(FILTER VANTREL_IMAGE_SOURCES EXCLUDE REGEX ".*/image/webp/WebpDecoder\\.cpp$")
endif()
# What a target built from those sources links and defines for the decoders beyond libnsgif.
function(vantrel_image_decoders target)
  if(VANTREL_HAVE_WEBP)
    target_link_libraries(${target} PRIVATE vantrel_webp_decode)
    target_compile_definitions(${target} PRIVATE VANTREL_WEBP)
  endif()
endfunction()

file(GLOB VANTREL_CORE_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/source/*.cpp
  ${CMAKE_SOURCE_DIR}/controller/*.cpp
  ${CMAKE_SOURCE_DIR}/identity/*.cpp
  ${CMAKE_SOURCE_DIR}/plugin/*.cpp)
list(FILTER VANTREL_CORE_SOURCES EXCLUDE REGEX ".*/plugin/PluginExports\\.cpp$")
list(FILTER VANTREL_CORE_SOURCES EXCLUDE REGEX ".*/plugin/HostBinding\\.cpp$")
list(APPEND VANTREL_CORE_SOURCES ${VANTREL_IMAGE_SOURCES})

add_library(vantrel_core STATIC ${VANTREL_CORE_SOURCES})
target_include_directories(vantrel_core PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(vantrel_core PUBLIC ${VANTREL_HOST_LINK} vantrel_platform nsgif)
target_compile_options(vantrel_core PRIVATE ${VANTREL_WARNINGS})
vantrel_image_decoders(vantrel_core)
set_target_properties(vantrel_core PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

if(EXISTS ${CMAKE_SOURCE_DIR}/plugin/PluginExports.cpp)
  add_library(VantrelEffect MODULE ${CMAKE_SOURCE_DIR}/plugin/PluginExports.cpp)
  target_link_libraries(VantrelEffect PRIVATE vantrel_core vantrel_hostfit)
  # Our layout of host/'s classes, which the host check compares with the host's library.
  include(${CMAKE_SOURCE_DIR}/cmake/hostfit.cmake)
  vantrel_host_layout(VantrelEffect)
  target_compile_options(VantrelEffect PRIVATE ${VANTREL_WARNINGS})
  set_target_properties(VantrelEffect PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden
                        VISIBILITY_INLINES_HIDDEN ON)
  if(NOT WIN32)
    target_link_options(VantrelEffect PRIVATE -Wl,-z,defs)
  endif()
  if(MSVC)
    # Bound to the host's library by what it exports, whatever its file name: the host's functions
    # through the delay-load table (the name there is only the import library's), the globals by
    # name, both at LoadPlugin (plugin/HostBinding.cpp, startup/DelayLoad.c).
    target_sources(VantrelEffect PRIVATE ${CMAKE_SOURCE_DIR}/plugin/HostBinding.cpp)
    target_compile_definitions(VantrelEffect PRIVATE VANTREL_BIND_AT_LOAD)
    target_link_options(VantrelEffect PRIVATE /DELAYLOAD:${VANTREL_HOST_LIBRARY})
  endif()
  if(MSVC)
    # The version resource, with the version from VERSION (x.y.z, shown as x.y.z.0).
    file(READ ${CMAKE_SOURCE_DIR}/VERSION VANTREL_VERSION)
    string(STRIP "${VANTREL_VERSION}" VANTREL_VERSION)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/VERSION)
    if(NOT VANTREL_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
      message(FATAL_ERROR "VERSION holds '${VANTREL_VERSION}', not x.y.z")
    endif()
    set(VANTREL_VERSION_DOTS ${VANTREL_VERSION}.0)
    string(REPLACE "." "," VANTREL_VERSION_COMMAS ${VANTREL_VERSION_DOTS})
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(VANTREL_BITS 64-bit)
    else()
      set(VANTREL_BITS 32-bit)
    endif()
    configure_file(${CMAKE_SOURCE_DIR}/plugin/VantrelEffect.rc.in
                   ${CMAKE_BINARY_DIR}/generated/VantrelEffect.rc @ONLY)
    target_sources(VantrelEffect PRIVATE ${CMAKE_BINARY_DIR}/generated/VantrelEffect.rc)
  endif()
  # The module loads the shader by the relative path shaders/ColorKey_RGB.pShader, from the host's
  # working directory (the host's own folder), not from the plug-in folder. The copy under bin/
  # serves the test programs and tools, which run there.
  add_custom_command(TARGET VantrelEffect POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory $<TARGET_FILE_DIR:VantrelEffect>/shaders
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/shaders/ColorKey_RGB.pShader
            $<TARGET_FILE_DIR:VantrelEffect>/shaders/ColorKey_RGB.pShader)
endif()
