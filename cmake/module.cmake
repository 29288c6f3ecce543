# The module: its code as a static library (linked into the module and into the tests), and the
# module itself, which exports nothing but its four entry points.
file(GLOB VANTREL_CORE_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/image/*.cpp
  ${CMAKE_SOURCE_DIR}/source/*.cpp
  ${CMAKE_SOURCE_DIR}/controller/*.cpp
  ${CMAKE_SOURCE_DIR}/identity/*.cpp
  ${CMAKE_SOURCE_DIR}/plugin/*.cpp)
list(FILTER VANTREL_CORE_SOURCES EXCLUDE REGEX ".*/plugin/PluginExports\\.cpp$")

add_library(vantrel_core STATIC ${VANTREL_CORE_SOURCES})
target_include_directories(vantrel_core PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(vantrel_core PUBLIC HostApi vantrel_platform nsgif)
target_compile_options(vantrel_core PRIVATE ${VANTREL_WARNINGS})
set_target_properties(vantrel_core PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

if(EXISTS ${CMAKE_SOURCE_DIR}/plugin/PluginExports.cpp)
  add_library(VantrelEffect MODULE ${CMAKE_SOURCE_DIR}/plugin/PluginExports.cpp)
  target_link_libraries(VantrelEffect PRIVATE vantrel_core)
  target_compile_options(VantrelEffect PRIVATE ${VANTREL_WARNINGS})
  set_target_properties(VantrelEffect PROPERTIES PREFIX "" CXX_VISIBILITY_PRESET hidden
                        VISIBILITY_INLINES_HIDDEN ON)
  if(NOT WIN32)
    target_link_options(VantrelEffect PRIVATE -Wl,-z,defs)
  endif()
  # The host finds the shader beside the module, under shaders/.
  add_custom_command(TARGET VantrelEffect POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory $<TARGET_FILE_DIR:VantrelEffect>/shaders
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/shaders/ColorKey_RGB.pShader
            $<TARGET_FILE_DIR:VantrelEffect>/shaders/ColorKey_RGB.pShader)
endif()
