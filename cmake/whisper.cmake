# whisper.cpp with ggml, built once per machine by scripts/build-whisper.sh into a
# cache keyed by version. Defines:
#   whisper::whisper      the imported shared library with its headers
#   WHISPER_PREFIX        the cache folder (include/, lib/, bin/whisper-cli)
#   WHISPER_CLI           the library's own command-line transcriber, for the benchmark
# and copies the shared libraries into bin/lib, where the executables look for them;
# the CPU backends there (libggml-cpu-VARIANT.so) are loaded by tovrin when it starts.

# Apple: Metal is on unless the option turns it off, for a machine whose GPU cannot
# be trusted; each choice has its own cache folder.
set(whisper_variant "")
if(APPLE)
  option(ORLESSA_WHISPER_METAL "Build whisper.cpp with Metal (macOS)" ON)
  if(ORLESSA_WHISPER_METAL)
    set(whisper_variant metal)
  else()
    set(whisper_variant cpu)
  endif()
endif()
# The script answers at once when the cache is there; running it at every configure
# picks up a new version or build revision, and editing it reconfigures.
execute_process(
  COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/build-whisper.sh ${whisper_variant}
  OUTPUT_VARIABLE WHISPER_PREFIX
  OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "scripts/build-whisper.sh failed (${status})")
endif()
# In the cache too, for the scripts that read it (bench/offline.sh).
set(WHISPER_PREFIX "${WHISPER_PREFIX}" CACHE PATH "Prefix of the whisper.cpp build" FORCE)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY
  CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/scripts/build-whisper.sh)

add_library(whisper::whisper SHARED IMPORTED)
set_target_properties(whisper::whisper PROPERTIES
  IMPORTED_LOCATION ${WHISPER_PREFIX}/lib/libwhisper${CMAKE_SHARED_LIBRARY_SUFFIX}
  INTERFACE_INCLUDE_DIRECTORIES ${WHISPER_PREFIX}/include)
set(WHISPER_CLI ${WHISPER_PREFIX}/bin/whisper-cli)

# The cache never changes under a given prefix, so copying at configure time is enough.
if(APPLE)
  file(GLOB whisper_libraries ${WHISPER_PREFIX}/lib/lib*.dylib)
else()
  file(GLOB whisper_libraries ${WHISPER_PREFIX}/lib/lib*.so*)
endif()
file(COPY ${whisper_libraries} DESTINATION ${CMAKE_BINARY_DIR}/bin/lib)

# Executables find their libraries in lib beside themselves, and nowhere else, so
# that the bin folder works wherever it is copied.
function(orlessa_runpath_beside target)
  if(APPLE)
    set(runpath "@executable_path/lib")
  else()
    set(runpath "\$ORIGIN/lib")
  endif()
  set_target_properties(${target} PROPERTIES
    BUILD_WITH_INSTALL_RPATH ON
    INSTALL_RPATH "${runpath}")
  if(NOT APPLE)
    target_link_options(${target} PRIVATE -Wl,--enable-new-dtags)
  endif()
endfunction()
