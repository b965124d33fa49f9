# The build-time generators must run on the build machine, so the cross build
# takes them from a native build of the same tree (QV_HOST_TOOLS_DIR).
# Relative paths are taken from the source tree.
set(QV_HOST_TOOLS_DIR "" CACHE STRING "A native build directory holding qv_rcgen and qv_catalogue_gen")
get_filename_component(QV_HOST_TOOLS_PATH "${QV_HOST_TOOLS_DIR}" ABSOLUTE BASE_DIR ${CMAKE_SOURCE_DIR})
foreach(tool qv_rcgen qv_catalogue_gen)
  set(location ${QV_HOST_TOOLS_PATH}/${tool})
  if(NOT EXISTS ${location})
    message(FATAL_ERROR "${tool} not found in QV_HOST_TOOLS_DIR (${QV_HOST_TOOLS_DIR}): build it natively first (ninja -C build/debug ${tool})")
  endif()
  add_executable(${tool} IMPORTED)
  set_target_properties(${tool} PROPERTIES IMPORTED_LOCATION ${location})
endforeach()
