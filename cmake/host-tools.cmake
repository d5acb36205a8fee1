# A cross build needs Linux programs of its own: the package builder that makes the record the
# program embeds, and the virtual printer the end-to-end tests talk to. They are built from this
# same tree with the host compiler, in a sub-build.
include(ExternalProject)

set(ZORVEN_HOST_DIR ${CMAKE_BINARY_DIR}/host)
set(ZORVEN_HOST_MKPACKAGE ${ZORVEN_HOST_DIR}/tools/zorven-mkpackage)
set(ZORVEN_HOST_PRINTER ${ZORVEN_HOST_DIR}/tools/zorven-printer)
set(ZORVEN_HOST_PACKAGE_IMAGE ${ZORVEN_HOST_DIR}/tools/zorven-package-image)

ExternalProject_Add(zorven_host_tools
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${ZORVEN_HOST_DIR}
  CMAKE_ARGS -G Ninja -DCMAKE_BUILD_TYPE=Release -DZORVEN_HOST_TOOLS_ONLY=ON
             -DCMAKE_C_COMPILER=cc -DCMAKE_CXX_COMPILER=c++ -DCMAKE_ASM_COMPILER=cc
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${ZORVEN_HOST_MKPACKAGE} ${ZORVEN_HOST_PRINTER} ${ZORVEN_HOST_PACKAGE_IMAGE})

add_executable(zorven-mkpackage IMPORTED GLOBAL)
set_target_properties(zorven-mkpackage PROPERTIES IMPORTED_LOCATION ${ZORVEN_HOST_MKPACKAGE})
add_dependencies(zorven-mkpackage zorven_host_tools)
add_executable(zorven-printer IMPORTED GLOBAL)
set_target_properties(zorven-printer PROPERTIES IMPORTED_LOCATION ${ZORVEN_HOST_PRINTER})
add_dependencies(zorven-printer zorven_host_tools)
add_executable(zorven-package-image IMPORTED GLOBAL)
set_target_properties(zorven-package-image PROPERTIES IMPORTED_LOCATION ${ZORVEN_HOST_PACKAGE_IMAGE})
add_dependencies(zorven-package-image zorven_host_tools)
