# The dialog templates and the version resource live in resources/quorvanta.rc;
# a small compiler turns them into the dialog model's tables at build time.
# A cross build brings it in from a native build (cmake/win32/host_tools.cmake).
if(NOT TARGET qv_rcgen)
  add_executable(qv_rcgen ${CMAKE_SOURCE_DIR}/tools/gen/rcgen.cpp
                          ${CMAKE_SOURCE_DIR}/platform/text_convert.cpp)
  target_include_directories(qv_rcgen PRIVATE ${CMAKE_SOURCE_DIR})
endif()

set(QV_RESOURCE_TABLES ${CMAKE_BINARY_DIR}/generated/resource_tables.cpp)
add_custom_command(
  OUTPUT ${QV_RESOURCE_TABLES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated
  COMMAND qv_rcgen ${CMAKE_SOURCE_DIR}/resources/quorvanta.rc ${QV_RESOURCE_TABLES}
  DEPENDS qv_rcgen ${CMAKE_SOURCE_DIR}/resources/quorvanta.rc ${CMAKE_SOURCE_DIR}/resources/resource.h
  COMMENT "Compiling the dialog templates and the version resource"
  VERBATIM)
list(APPEND QV_GENERATED_SOURCES ${QV_RESOURCE_TABLES})
