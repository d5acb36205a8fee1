# zorven_include_root(<target> <folder>)
# Gives <target> (and whatever links it) the include root of the source folder <folder>: a folder
# in the build tree that holds one link, <folder>, to the sources. So "<folder>/x.h" resolves for
# the target and its users, and no other folder of the source tree does.
function(zorven_include_root target folder)
  set(root ${CMAKE_BINARY_DIR}/include-roots/${folder})
  if(NOT IS_SYMLINK ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    target_include_directories(${target} PRIVATE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
