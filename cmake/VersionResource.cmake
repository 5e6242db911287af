# Version resources of the binaries, compiled by the resource compiler of the toolchain (windres
# with MinGW, rc with MSVC) from cmake/VersionInfo.rc.in, and the application manifest of a program.

# The numeric version (FILEVERSION and PRODUCTVERSION) is major, minor, patch and the rank of the
# fix letter in the alphabet (a = 1 ... z = 26, none = 0): 0.3.4d gives 0,3,4,4.
if(NOT ORVEL_VERSION_LETTER MATCHES "^[a-z]?$")
  message(FATAL_ERROR "The version's fix letter is not one of a to z: '${ORVEL_VERSION_LETTER}'")
endif()
set(ORVEL_VERSION_LETTER_RANK 0)
if(NOT ORVEL_VERSION_LETTER STREQUAL "")
  string(FIND "abcdefghijklmnopqrstuvwxyz" "${ORVEL_VERSION_LETTER}" index)
  math(EXPR ORVEL_VERSION_LETTER_RANK "${index} + 1")
endif()
set(ORVEL_NUMERIC_VERSION ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR} ${PROJECT_VERSION_PATCH}
                          ${ORVEL_VERSION_LETTER_RANK})
list(JOIN ORVEL_NUMERIC_VERSION "," ORVEL_FILE_VERSION)
list(JOIN ORVEL_NUMERIC_VERSION "." ORVEL_FILE_VERSION_TEXT)

# The maker's notice, in the resources and in the banner (shell/ProductText.h.in).
set(ORVEL_COPYRIGHT "(c) 2026 ${ORVEL_VENDOR}. Tous droits réservés.")

set(ORVEL_VERSION_RESOURCE_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/VersionInfo.rc.in)

# Gives TARGET a version resource with its French DESCRIPTION and, with MANIFEST (a template
# configured with the same variables), that application manifest.
function(orvel_add_version_resource target description)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "MANIFEST" "")
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(file_type VFT_APP)
  else()
    set(file_type VFT_DLL)
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
  set(manifest_resource "")
  if(arg_MANIFEST)
    configure_file(${arg_MANIFEST} ${dir}/${target}.manifest @ONLY)
    set(manifest_resource
        "CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST \"${dir}/${target}.manifest\"")
    if(MSVC)
      # The manifest is in the resource; the linker must not make and embed one of its own.
      target_link_options(${target} PRIVATE /MANIFEST:NO)
    endif()
  endif()
  # Configured twice: the variables first, then the file name of the target once it is known.
  configure_file(${ORVEL_VERSION_RESOURCE_TEMPLATE} ${dir}/${target}.rc.in @ONLY)
  file(GENERATE OUTPUT ${dir}/${target}.rc INPUT ${dir}/${target}.rc.in)
  target_sources(${target} PRIVATE ${dir}/${target}.rc)
endfunction()
