# cmake -DINPUT=<file> -DOUTPUT=<source.cpp> -DNAME=<array> -DHEADER=<header> -P embed_file.cmake
#
# Writes a C++ source that holds the bytes of INPUT as the array NAME and its
# length as NAME with "Size" appended, both declared in HEADER.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes a line (CMake's expressions have no counted repeats).
string(REPEAT "0x[0-9a-f][0-9a-f]," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
get_filename_component(input_name "${INPUT}" NAME)
file(WRITE "${OUTPUT}"
  "// Made by the build from ${input_name}; never edited by hand.\n"
  "#include \"${HEADER}\"\n\n"
  "const unsigned char ${NAME}[] = {\n    ${bytes}\n};\n"
  "const std::size_t ${NAME}Size = ${size};\n")
