# zorven_package(<name> [IMAGE file] [SAMPLE_BYTES n] [VERSION text] [VARIANT n] [SCRAMBLE n]
#                [ACCESS_CODE code] [LOG_TAG text] [PRESENCE n])
# Makes the record file packages/<name>.bin with the package builder and an object library
# zorven_package_<name> that places it in the program's static data. Arguments left out take
# the ZORVEN_PACKAGE_* cache values.
#
# Every value reaches the package builder as it is, whatever it holds: an empty text, spaces,
# quotes, ';' (which CMake would otherwise take for a list separator) or '$<' (which a custom
# command would evaluate). The texts go over as their bytes in hexadecimal digits, each other
# value as one quoted argument, and an empty value as an empty argument.
function(zorven_package name)
  # Keyword and value pairs, read one argument at a time: a value may be empty or hold ';'.
  set(keywords IMAGE SAMPLE_BYTES VERSION VARIANT SCRAMBLE ACCESS_CODE LOG_TAG PRESENCE)
  set(i 1)
  while(i LESS ARGC)
    set(key "${ARGV${i}}")
    math(EXPR i "${i} + 1")
    if(NOT key IN_LIST keywords OR NOT i LESS ARGC)
      message(FATAL_ERROR "zorven_package(${name}): '${key}' is no keyword, or its value is missing")
    endif()
    set(P_${key} "${ARGV${i}}")
    math(EXPR i "${i} + 1")
  endwhile()
  foreach(field IMAGE VERSION VARIANT SCRAMBLE ACCESS_CODE LOG_TAG PRESENCE)
    if(NOT DEFINED P_${field})
      set(P_${field} "${ZORVEN_PACKAGE_${field}}")
    endif()
  endforeach()
  foreach(field VERSION ACCESS_CODE LOG_TAG)
    string(HEX "${P_${field}}" P_${field}_HEX)
  endforeach()
  set(record ${CMAKE_BINARY_DIR}/packages/${name}.bin)
  if(NOT P_IMAGE STREQUAL "")
    set(image_opt --image)
    set(image_val "${P_IMAGE}")
    set(image_dep "${P_IMAGE}")
  else()
    set(image_opt --sample-image)
    set(image_dep)
    if(DEFINED P_SAMPLE_BYTES)
      set(image_val "${P_SAMPLE_BYTES}")
    else()
      set(image_val 655360)  # the whole image area
    endif()
  endif()
  add_custom_command(OUTPUT ${record}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packages
    COMMAND zorven-mkpackage --out ${record} ${image_opt} "${image_val}" --version-hex "${P_VERSION_HEX}"
            --variant "${P_VARIANT}" --scramble "${P_SCRAMBLE}" --access-code-hex "${P_ACCESS_CODE_HEX}"
            --log-tag-hex "${P_LOG_TAG_HEX}" --presence "${P_PRESENCE}"
    DEPENDS zorven-mkpackage "${image_dep}"
    COMMENT "Firmware package ${name}"
    VERBATIM)
  add_custom_target(zorven_package_record_${name} DEPENDS ${record})
  # One assembler file per package, so that each object depends on its own record file.
  set(asm ${CMAKE_BINARY_DIR}/packages/${name}.S)
  file(CONFIGURE OUTPUT ${asm} CONTENT
       "#define ZORVEN_PACKAGE_FILE \"${record}\"\n#include \"package/embedded.S\"\n")
  add_library(zorven_package_${name} OBJECT ${asm} ${CMAKE_SOURCE_DIR}/package/embedded.cpp)
  target_link_libraries(zorven_package_${name} PUBLIC zorven_package)
  set_source_files_properties(${asm} PROPERTIES OBJECT_DEPENDS ${record})
  add_dependencies(zorven_package_${name} zorven_package_record_${name})
endfunction()
