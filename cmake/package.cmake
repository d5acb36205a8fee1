# zorven_package(<name> [IMAGE file] [SAMPLE_BYTES n] [VERSION text] [VARIANT n] [SCRAMBLE n]
#                [ACCESS_CODE code] [LOG_TAG text] [PRESENCE n])
# Makes the record file packages/<name>.bin with the package builder and an object library
# zorven_package_<name> that places it in the program's static data. Arguments left out take
# the ZORVEN_PACKAGE_* cache values.
function(zorven_package name)
  cmake_parse_arguments(P "" "IMAGE;SAMPLE_BYTES;VERSION;VARIANT;SCRAMBLE;ACCESS_CODE;LOG_TAG;PRESENCE" "" ${ARGN})
  foreach(field IMAGE VERSION VARIANT SCRAMBLE ACCESS_CODE LOG_TAG PRESENCE)
    if(NOT DEFINED P_${field})
      set(P_${field} "${ZORVEN_PACKAGE_${field}}")
    endif()
  endforeach()
  set(record ${CMAKE_BINARY_DIR}/packages/${name}.bin)
  if(P_IMAGE)
    set(image_args --image ${P_IMAGE})
    set(image_dep ${P_IMAGE})
  elseif(DEFINED P_SAMPLE_BYTES)
    set(image_args --sample-image ${P_SAMPLE_BYTES})
    set(image_dep)
  else()
    set(image_args --sample-image)
    set(image_dep)
  endif()
  add_custom_command(OUTPUT ${record}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packages
    COMMAND zorven-mkpackage --out ${record} ${image_args} --version ${P_VERSION}
            --variant ${P_VARIANT} --scramble ${P_SCRAMBLE} --access-code ${P_ACCESS_CODE}
            --log-tag ${P_LOG_TAG} --presence ${P_PRESENCE}
    DEPENDS zorven-mkpackage ${image_dep}
    COMMENT "Firmware package ${name}"
    VERBATIM)
  add_custom_target(zorven_package_record_${name} DEPENDS ${record})
  # One assembler file per package, so that each object depends on its own record file.
  set(asm ${CMAKE_BINARY_DIR}/packages/${name}.S)
  file(CONFIGURE OUTPUT ${asm} CONTENT
       "#define ZORVEN_PACKAGE_FILE \"${record}\"\n#include \"package/embedded.S\"\n")
  add_library(zorven_package_${name} OBJECT ${asm} ${CMAKE_SOURCE_DIR}/package/embedded.cpp)
  set_source_files_properties(${asm} PROPERTIES OBJECT_DEPENDS ${record})
  add_dependencies(zorven_package_${name} zorven_package_record_${name})
endfunction()
