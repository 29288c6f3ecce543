# libnsgif 0.2.1, as scripts/deps extracted (and patched) it into .deps/libnsgif.
set(NSGIF_DIR ${VANTREL_DEPS_DIR}/libnsgif)
if(NOT EXISTS ${NSGIF_DIR}/include/libnsgif.h)
  message(FATAL_ERROR "libnsgif not found in ${NSGIF_DIR}: run scripts/deps first")
endif()
add_library(nsgif STATIC ${NSGIF_DIR}/src/libnsgif.c ${NSGIF_DIR}/src/lzw.c)
target_include_directories(nsgif PUBLIC ${NSGIF_DIR}/include PRIVATE ${NSGIF_DIR}/src)
target_compile_definitions(nsgif PRIVATE _DEFAULT_SOURCE)
set_target_properties(nsgif PROPERTIES C_VISIBILITY_PRESET hidden)
