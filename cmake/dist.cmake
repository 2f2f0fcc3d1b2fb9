# What a host application ships, as install rules (cmake --install BUILD --prefix DIR)
# and as the archive that CPack packs from them (make dist):
#   bin/tovrin, bin/selvane, bin/lib/ (the libraries tovrin loads), docs/protocol.md,
#   README.md (the archive's own), licenses/ (every bundled or compiled-in component).
# The executables already carry their run-time search path (orlessa_runpath_beside),
# so installing copies them unchanged.

# cpack and cmake --install build nothing; make dist builds the programs first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

if(APPLE)
  set(ORLESSA_DIST_OS macos)
  set(ORLESSA_DIST_ARCH ${CMAKE_OSX_ARCHITECTURES})
else()
  string(TOLOWER ${CMAKE_SYSTEM_NAME} ORLESSA_DIST_OS)
  set(ORLESSA_DIST_ARCH ${CMAKE_SYSTEM_PROCESSOR})
endif()
set(ORLESSA_DIST_NAME orlessa-speech-${PROJECT_VERSION}-${ORLESSA_DIST_OS}-${ORLESSA_DIST_ARCH})

if(ORLESSA_OFFLINE)
  install(TARGETS tovrin RUNTIME DESTINATION bin)
  # The libraries under the names the loader asks for; the bare names (libwhisper.so
  # and the like) are links for a linker and are left out.
  foreach(library IN LISTS whisper_libraries)
    get_filename_component(name ${library} NAME)
    if(IS_SYMLINK ${library} AND name MATCHES "^lib[^.]+\\${CMAKE_SHARED_LIBRARY_SUFFIX}$")
      continue()
    endif()
    install(FILES ${library} DESTINATION bin/lib)
  endforeach()
  # whisper.cpp and ggml share one licence; build-whisper.sh keeps it with any
  # notice of code compiled into the libraries.
  install(DIRECTORY ${WHISPER_PREFIX}/licenses/ DESTINATION licenses)
endif()

if(ORLESSA_STREAMING)
  install(TARGETS selvane RUNTIME DESTINATION bin)
  # nlohmann-json is compiled into selvane. Debian's copyright file holds its licence;
  # Homebrew keeps LICENSE.MIT at the top of the package's folder.
  get_filename_component(json_package_root "${nlohmann_json_DIR}/../../.." REALPATH)
  find_file(ORLESSA_JSON_LICENSE NAMES copyright LICENSE.MIT
    PATHS /usr/share/doc/nlohmann-json3-dev ${json_package_root} NO_DEFAULT_PATH)
  if(NOT ORLESSA_JSON_LICENSE)
    message(FATAL_ERROR "No licence text of nlohmann-json found (looked in /usr/share/doc/nlohmann-json3-dev and ${json_package_root})")
  endif()
  install(FILES ${ORLESSA_JSON_LICENSE} DESTINATION licenses RENAME nlohmann-json.txt)
endif()

install(FILES ${PROJECT_SOURCE_DIR}/docs/protocol.md DESTINATION docs)
# The archive's README names the whisper.cpp version, which the cache folder carries.
string(REGEX MATCH "whisper-([0-9.]+)-r" _ "${WHISPER_PREFIX}")
set(WHISPER_VERSION ${CMAKE_MATCH_1})
configure_file(${CMAKE_CURRENT_LIST_DIR}/archive/README-${ORLESSA_DIST_OS}.md.in
  ${CMAKE_BINARY_DIR}/archive/README.md @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/archive/README.md DESTINATION .)

set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_NAME orlessa-speech)
set(CPACK_PACKAGE_VENDOR Orlessa)
set(CPACK_PACKAGE_FILE_NAME ${ORLESSA_DIST_NAME})
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
