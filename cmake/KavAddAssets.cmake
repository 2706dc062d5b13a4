# kav_add_assets(<target> FORMAT mzr|rle|rls [START n] [END n] [TRANSPARENT n] [NO_REMAPPING]
#                [ALPHA_THRESHOLD n] [KEEP_INDICES] [PALETTE file]
#                [DITHER none|ordered|diffusion] [OUTPUT_DIR dir] [BASE_DIR dir]
#                [EMIT binary|c|both] [C_PREFIX prefix] [OUTPUT_VARIABLE var]
#                SOURCES <pictures>...)
#
# Adds a build rule per picture that runs kav::kavconv on it when it (or the converter, or
# the PALETTE file every output takes) changes, and makes <target> depend on the results.
# Each output keeps its source's path relative to BASE_DIR (by default
# ${CMAKE_CURRENT_SOURCE_DIR}) inside OUTPUT_DIR (by default
# ${CMAKE_CURRENT_BINARY_DIR}/kav_assets/<target>), named as kavconv names it: ui/hero.bmp
# gives ui/hero.MZR or ui/hero.RLE, and EMIT c or both adds ui/hero.RLE.h, whose array is ui_hero_RLE
# (C_PREFIX in front, as kavconv's --c-prefix puts it). So same-named pictures in different
# folders are fine; a picture outside BASE_DIR goes directly into OUTPUT_DIR, and two pictures
# that would give one output stop the configuration.
#
# A GIF or Aseprite source (.gif, .ase, .aseprite) gives one output per frame, ui/walk_0.RLE,
# ui/walk_1.RLE ..., or the plain name for a single frame; how many is known only once the
# file is read, so its rule makes a stamp file beside the build's own files instead, and its
# outputs are converted again when the source changes, not when one of them is removed.
#
# A compiled <target> gets the output folder on its include path (EMIT c or both) and
# KAV_ASSET_DIR="<output folder>" of its first call; later calls on the same target never
# define it again. OUTPUT_VARIABLE names a variable that receives this call's output folder.
function(kav_add_assets target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "NO_REMAPPING;KEEP_INDICES"
                        "FORMAT;START;END;TRANSPARENT;ALPHA_THRESHOLD;PALETTE;DITHER;OUTPUT_DIR;BASE_DIR;EMIT;C_PREFIX;OUTPUT_VARIABLE"
                        "SOURCES")
  set(usage "kav_add_assets(${target})")
  if(NOT TARGET ${target})
    message(FATAL_ERROR "${usage}: no target named ${target}")
  endif()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${usage}: unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()
  string(TOLOWER "${arg_FORMAT}" format)
  if(NOT format MATCHES "^(mzr|rle|rls)$")
    message(FATAL_ERROR "${usage}: FORMAT must be mzr, rle or rls")
  endif()
  if(NOT arg_EMIT)
    set(arg_EMIT binary)
  endif()
  if(NOT arg_EMIT MATCHES "^(binary|c|both)$")
    message(FATAL_ERROR "${usage}: EMIT must be binary, c or both")
  endif()
  if(NOT arg_SOURCES)
    message(FATAL_ERROR "${usage}: no SOURCES")
  endif()
  if(DEFINED arg_C_PREFIX AND arg_EMIT STREQUAL "binary")
    message(FATAL_ERROR "${usage}: C_PREFIX needs EMIT c or both")
  endif()
  if(NOT arg_BASE_DIR)
    set(arg_BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  cmake_path(ABSOLUTE_PATH arg_BASE_DIR BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} NORMALIZE
             OUTPUT_VARIABLE base_dir)
  if(DEFINED arg_DITHER AND NOT arg_DITHER MATCHES "^(none|ordered|diffusion)$")
    message(FATAL_ERROR "${usage}: DITHER must be none, ordered or diffusion")
  endif()
  if(arg_PALETTE AND arg_KEEP_INDICES)
    message(FATAL_ERROR "${usage}: PALETTE and KEEP_INDICES cannot be used together")
  endif()
  set(palette_file)
  if(arg_PALETTE)
    cmake_path(ABSOLUTE_PATH arg_PALETTE BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} NORMALIZE
               OUTPUT_VARIABLE palette_file)
  endif()
  if(NOT arg_OUTPUT_DIR)
    set(arg_OUTPUT_DIR ${CMAKE_CURRENT_BINARY_DIR}/kav_assets/${target})
  endif()
  cmake_path(ABSOLUTE_PATH arg_OUTPUT_DIR BASE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
             NORMALIZE OUTPUT_VARIABLE output_dir)
  file(MAKE_DIRECTORY ${output_dir})

  set(options -q -f ${format} --emit ${arg_EMIT})
  foreach(setting IN ITEMS START END TRANSPARENT)
    if(DEFINED arg_${setting})
      string(TOLOWER ${setting} flag)
      list(APPEND options --${flag} ${arg_${setting}})
    endif()
  endforeach()
  if(arg_NO_REMAPPING)
    list(APPEND options --no-remapping)
  endif()
  if(DEFINED arg_C_PREFIX)
    list(APPEND options --c-prefix ${arg_C_PREFIX})
  endif()
  if(DEFINED arg_ALPHA_THRESHOLD)
    list(APPEND options --alpha-threshold ${arg_ALPHA_THRESHOLD})
  endif()
  if(arg_KEEP_INDICES)
    list(APPEND options --keep-indices)
  endif()
  if(palette_file)
    list(APPEND options --palette ${palette_file})
  endif()
  if(DEFINED arg_DITHER)
    list(APPEND options --dither ${arg_DITHER})
  endif()
  set(extension RLE)  # RLS files are named *.RLE too
  if(format STREQUAL "mzr")
    set(extension MZR)
  endif()

  set(all_outputs)
  foreach(source IN LISTS arg_SOURCES)
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} NORMALIZE)
    # kavconv places the output at this path inside the output folder, and names its C array
    # after that path.
    cmake_path(IS_PREFIX base_dir "${source}" NORMALIZE inside)
    if(inside)
      cmake_path(RELATIVE_PATH source BASE_DIRECTORY ${base_dir} OUTPUT_VARIABLE relative)
    else()
      cmake_path(GET source FILENAME relative)
    endif()
    cmake_path(REPLACE_EXTENSION relative LAST_ONLY ${extension})
    set(binary ${output_dir}/${relative})
    # Across every call, so that two targets or two calls cannot overwrite each other either.
    get_property(earlier GLOBAL PROPERTY "kav_asset_source:${binary}")
    if(earlier)
      message(FATAL_ERROR "${usage}: ${earlier} and ${source} would both give ${binary}")
    endif()
    set_property(GLOBAL PROPERTY "kav_asset_source:${binary}" ${source})
    set(outputs)
    if(NOT arg_EMIT STREQUAL "c")
      list(APPEND outputs ${binary})
    endif()
    if(NOT arg_EMIT STREQUAL "binary")
      list(APPEND outputs ${binary}.h)
    endif()
    cmake_path(GET source FILENAME name)
    cmake_path(GET source EXTENSION LAST_ONLY source_extension)
    string(TOLOWER "${source_extension}" source_extension)
    set(stamp_command)
    if(source_extension MATCHES "^\\.(gif|ase|aseprite)$")
      # Named after the output path, which no other rule shares.
      string(MD5 key "${binary}")
      set(stamps ${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/kav_assets)
      file(MAKE_DIRECTORY ${stamps})
      set(outputs ${stamps}/${name}-${key}.stamp)
      set(stamp_command COMMAND ${CMAKE_COMMAND} -E touch ${outputs})
    endif()
    add_custom_command(OUTPUT ${outputs}
                       COMMAND kav::kavconv convert ${options} --output-dir ${output_dir}
                               -o ${relative} ${source}
                       ${stamp_command}
                       DEPENDS ${source} ${palette_file} kav::kavconv
                       COMMENT "Converting ${name} to ${extension} (${format})"
                       VERBATIM)
    list(APPEND all_outputs ${outputs})
  endforeach()

  # One target per call, so that several calls on one target each have their own.
  set(index 0)
  while(TARGET ${target}_kav_assets_${index})
    math(EXPR index "${index} + 1")
  endwhile()
  add_custom_target(${target}_kav_assets_${index} DEPENDS ${all_outputs})
  add_dependencies(${target} ${target}_kav_assets_${index})
  get_target_property(type ${target} TYPE)
  if(NOT type MATCHES "^(UTILITY|INTERFACE_LIBRARY)$")
    get_property(defined TARGET ${target} PROPERTY KAV_ASSET_DIR SET)
    if(NOT defined)
      set_property(TARGET ${target} PROPERTY KAV_ASSET_DIR ${output_dir})
      target_compile_definitions(${target} PRIVATE KAV_ASSET_DIR="${output_dir}")
    endif()
    if(NOT arg_EMIT STREQUAL "binary")
      target_include_directories(${target} PRIVATE ${output_dir})
    endif()
  endif()
  if(arg_OUTPUT_VARIABLE)
    set(${arg_OUTPUT_VARIABLE} ${output_dir} PARENT_SCOPE)
  endif()
endfunction()
