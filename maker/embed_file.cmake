# Writes the bytes of INPUT as a C++ array behind BuiltinCheckerImage, into OUTPUT.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}" "// Generated from ${INPUT}; do not edit.\n#include \"checker_image.h\"\n\nnamespace {\nconst unsigned char kImage[] = {\n${bytes}\n};\n}  // namespace\n\nbool BuiltinCheckerImage(const unsigned char** data, size_t* size) {\n  *data = kImage;\n  *size = ${size};\n  return true;\n}\n")
