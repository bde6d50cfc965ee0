# Header-only libraries that Debian installs under /usr/include, for the cross build.
# The mingw compiler must not search /usr/include as a whole (glibc's headers would win
# over its own), so each library's folder is linked into a folder of the build tree that
# holds nothing else, and only that folder is searched. For each library a package
# configuration is written there too, with Debian's own version file beside it, so that
# find_package(NAME VERSION CONFIG) gives the same target as on Linux and checks the
# same version.
#
# One entry per library: PACKAGE|TARGET|FOLDER[|DEFINITION...], FOLDER under
# /usr/include, DEFINITION what every user of the headers must define.
set(VYX_HEADER_ONLY_LIBRARIES
  "CLI11|CLI11::CLI11|CLI"
  "nlohmann_json|nlohmann_json::nlohmann_json|nlohmann"
  "tomlplusplus|tomlplusplus::tomlplusplus|toml++|TOML_HEADER_ONLY=1"
  CACHE STRING "Header-only libraries of the cross build: PACKAGE|TARGET|FOLDER[|DEFINITION]")
set(VYX_HOST_PREFIX /usr CACHE PATH "Where the build machine's header-only libraries live")

set(vyx_header_only_root ${PROJECT_BINARY_DIR}/header-only)
file(MAKE_DIRECTORY ${vyx_header_only_root}/include)
foreach(entry IN LISTS VYX_HEADER_ONLY_LIBRARIES)
  string(REPLACE "|" ";" fields "${entry}")
  list(POP_FRONT fields package target folder)
  file(GLOB version_file
    ${VYX_HOST_PREFIX}/share/cmake/${package}/${package}ConfigVersion.cmake
    ${VYX_HOST_PREFIX}/lib/*/cmake/${package}/${package}ConfigVersion.cmake)
  if(NOT EXISTS ${VYX_HOST_PREFIX}/include/${folder} OR NOT version_file)
    continue()  # not installed: find_package fails here as it would on Linux
  endif()
  list(GET version_file 0 version_file)
  file(CREATE_LINK ${VYX_HOST_PREFIX}/include/${folder}
       ${vyx_header_only_root}/include/${folder} SYMBOLIC)
  set(config_dir ${vyx_header_only_root}/cmake/${package})
  configure_file(${version_file} ${config_dir}/${package}ConfigVersion.cmake COPYONLY)
  file(WRITE ${config_dir}/${package}Config.cmake
"# Written by cmake/HeaderOnlyLibraries.cmake: ${package}'s headers alone, for the cross build.
if(NOT TARGET ${target})
  add_library(${target} INTERFACE IMPORTED)
  set_target_properties(${target} PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES \"${vyx_header_only_root}/include\"
    INTERFACE_SYSTEM_INCLUDE_DIRECTORIES \"${vyx_header_only_root}/include\"
    INTERFACE_COMPILE_DEFINITIONS \"${fields}\")
endif()
")
  set(${package}_DIR ${config_dir} CACHE PATH "${package}'s headers for the cross build" FORCE)
endforeach()
