# Script mode (cmake -P), run by tessivane_embed_asset at build time: writes OUTPUT, a C++
# source holding the bytes of INPUT and registering them as the resource TYPE / NAME.

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")

if(size EQUAL 0)
  # An array cannot be empty; the resource still reports size 0.
  set(bytes "0x00,")
else()
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # Sixteen bytes a line (CMake's expressions have no repeat count).
  string(REPEAT "0x[0-9a-f][0-9a-f]," 16 line)
  string(REGEX REPLACE "(${line})" "\\1\n" bytes "${bytes}")
endif()

foreach(part TYPE NAME)
  if("${${part}}" MATCHES "^[0-9]+$")
    set(${part}_TEXT "nullptr")
    set(${part}_ID "${${part}}")
  else()
    set(${part}_TEXT "\"${${part}}\"")
    set(${part}_ID "0")
  endif()
endforeach()

get_filename_component(source_name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${source_name} by embed_asset.cmake at build time; do not edit.
#include \"platform/embedded_resource.h\"

namespace {

alignas(16) const tessivane::platform::BYTE bytes[] = {
${bytes}
};

tessivane::platform::detail::EmbeddedResource resource{
    ${TYPE_TEXT}, ${TYPE_ID}, ${NAME_TEXT}, ${NAME_ID}, bytes, ${size}, nullptr};

struct Registration {
    Registration() { tessivane::platform::detail::registerEmbeddedResource(resource); }
} registration;

} // namespace
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
