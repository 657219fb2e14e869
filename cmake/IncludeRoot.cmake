# target_include_root(<target> <prefix> <folder> [FILES <headers>...])
#
# Lets <target> and its users include the headers of <folder> as <prefix>/<header>, and
# nothing else of the source tree: the include root is a folder of the build tree that holds
# only a link <prefix> to <folder> (with FILES, a folder <prefix> with links to those headers
# alone). So a header from a part that a target does not link is not found.
function(target_include_root target prefix folder)
  cmake_parse_arguments(R "" "" "FILES" ${ARGN})
  get_filename_component(folder "${folder}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  set(root ${PROJECT_BINARY_DIR}/include-roots/${target})
  if(R_FILES)
    file(MAKE_DIRECTORY ${root}/${prefix})
    foreach(header IN LISTS R_FILES)
      file(CREATE_LINK ${folder}/${header} ${root}/${prefix}/${header} SYMBOLIC)
    endforeach()
  else()
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${folder} ${root}/${prefix} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
