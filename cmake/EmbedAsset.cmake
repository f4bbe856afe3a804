# Embedded assets: a binary file under assets/ compiled into the program as a resource that
# FindResourceA (src/platform/resource.h) finds by type and name at run time.
#
#   tessivane_embed_asset(<target> <file> TYPE <type> NAME <name>)
#
#   <target>  an executable, or an OBJECT library that executables link directly. (Not a
#             static library: nothing references an asset's object by symbol, so the linker
#             would leave it out, and the asset with it.)
#   <file>    the asset, relative to the calling CMakeLists.txt.
#   <type>, <name>
#             each either a decimal integer id (101) or text (XM, PICTURE), as FindResourceA
#             takes them: FindResourceA(nullptr, MAKEINTRESOURCEA(101), "XM"). Text is
#             letters, digits and underscores, and matches without regard to case.
#
# The program's own assets are listed in assets/CMakeLists.txt on the tessivane_resources
# object library, which the programs and tests link. At build time embed_asset.cmake turns
# the file into a C++ source holding its bytes and a static registration; editing the asset
# regenerates and recompiles that one source.

set(TESSIVANE_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/embed_asset.cmake)

function(tessivane_embed_asset target file)
  cmake_parse_arguments(PARSE_ARGV 2 ARG "" "TYPE;NAME" "")
  if(NOT ARG_TYPE OR "${ARG_NAME}" STREQUAL "" OR ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "tessivane_embed_asset(${target} ${file} TYPE <type> NAME <name>)")
  endif()
  foreach(part TYPE NAME)
    set(value "${ARG_${part}}")
    if(value MATCHES "^[0-9]+$")
      if(value GREATER 65535)
        message(FATAL_ERROR "embedded ${file}: ${part} ${value} is not a 16-bit id")
      endif()
    elseif(NOT value MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
      message(FATAL_ERROR "embedded ${file}: ${part} '${value}' must be an id or a plain word")
    endif()
  endforeach()

  string(TOUPPER "${ARG_TYPE}/${ARG_NAME}" key)
  get_property(embedded TARGET ${target} PROPERTY TESSIVANE_EMBEDDED)
  if(key IN_LIST embedded)
    message(FATAL_ERROR "${target} already embeds a resource ${ARG_TYPE} ${ARG_NAME}")
  endif()
  set_property(TARGET ${target} APPEND PROPERTY TESSIVANE_EMBEDDED ${key})

  get_filename_component(input ${file} ABSOLUTE)
  string(MAKE_C_IDENTIFIER "${target}_${ARG_TYPE}_${ARG_NAME}" stem)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/embedded/${stem}.cpp)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output} -DTYPE=${ARG_TYPE}
            -DNAME=${ARG_NAME} -P ${TESSIVANE_EMBED_SCRIPT}
    DEPENDS ${input} ${TESSIVANE_EMBED_SCRIPT}
    COMMENT "Embedding ${file} as resource ${ARG_TYPE} ${ARG_NAME}"
    VERBATIM)
  target_sources(${target} PRIVATE ${output})
  # The generated source registers itself with the platform layer.
  target_link_libraries(${target} PRIVATE tessivane_platform)
endfunction()
