# What a release needs of every build: one version number (the project's), shown by the
# programs and in their file properties; the Windows programs' manifests; and builds that
# come out byte for byte the same from the same sources, wherever they are checked out.

# A release script sets the suffix ("-dirty") when the tree has uncommitted changes, so that
# such a build never shows the plain version.
set(VEXORIN_VERSION_SUFFIX "" CACHE STRING "Appended to the project version that the programs show")
set(VX_VERSION "${PROJECT_VERSION}${VEXORIN_VERSION_SUFFIX}")
set(VX_VERSION_NUMBERS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")

set(vx_generated ${PROJECT_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/release/vexorin_version.h.in ${vx_generated}/vexorin_version.h @ONLY)
add_library(vx_version INTERFACE)
target_include_directories(vx_version INTERFACE ${vx_generated})

# No build folder or checkout path in any output (assertion texts, debug information).
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)

if(WIN32)
  # The PE header's link time would make every link different.
  add_link_options(-Wl,--no-insert-timestamp)

  # The manifest every Windows program carries, without the blanks of its readable source.
  file(READ ${CMAKE_CURRENT_LIST_DIR}/release/vexorin.manifest vx_manifest)
  string(REGEX REPLACE "<!--[^>]*-->" "" vx_manifest "${vx_manifest}")
  string(REGEX REPLACE ">[ \t\r\n]+<" "><" vx_manifest "${vx_manifest}")
  string(REGEX REPLACE "[ \t\r\n]+$" "" vx_manifest "${vx_manifest}")
  file(CONFIGURE OUTPUT ${vx_generated}/vexorin.manifest CONTENT "${vx_manifest}" @ONLY)
endif()

# Gives a Windows program its manifest and its file properties (VERSIONINFO: version,
# Japanese description, original file name). NO_VERSIONINFO leaves the properties out.
function(vx_windows_resources target file_name description)
  cmake_parse_arguments(PARSE_ARGV 3 arg "NO_VERSIONINFO" "" "")
  if(NOT WIN32)
    return()
  endif()
  set(VX_FILE_NAME ${file_name})
  set(VX_DESCRIPTION ${description})
  set(rc ${vx_generated}/${target}_release.rc)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/release/manifest.rc.in ${rc} @ONLY)
  if(NOT arg_NO_VERSIONINFO)
    file(READ ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/release/versioninfo.rc.in versioninfo)
    string(CONFIGURE "${versioninfo}" versioninfo @ONLY)
    file(APPEND ${rc} "${versioninfo}")
  endif()
  # windres writes no dependency file.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${vx_generated}/vexorin.manifest)
  target_sources(${target} PRIVATE ${rc})
endfunction()

# Lists the programs of this build that a release packs, as "target<TAB>file" lines in
# release-files.txt, for tools/make-release.sh.
function(vx_release_files)
  set(content "")
  foreach(target IN LISTS ARGN)
    string(APPEND content "${target}\t$<TARGET_FILE:${target}>\n")
  endforeach()
  file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/release-files.txt CONTENT "${content}")
endfunction()
