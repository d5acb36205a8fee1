# cmake -DIMAGE=<image file> -DOUT=<source file> -P image-digest.cmake
# Writes a C++ source that defines the SHA-256 of the image file as lower-case hex text.
file(SHA256 ${IMAGE} digest)
set(content "// Made by the build from the package record's image bytes.\nnamespace cli {\nextern const char kImageSha256[] = \"${digest}\";\n}\n")
# Rewritten only when the digest changed, so that an unchanged package relinks nothing.
if(EXISTS ${OUT})
  file(READ ${OUT} old)
  if(old STREQUAL content)
    return()
  endif()
endif()
file(WRITE ${OUT} "${content}")
