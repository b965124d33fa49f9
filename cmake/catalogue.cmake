# The catalogue's Japanese texts are written in UTF-8 (state/catalogue_texts.h)
# and turned into code page 932 tables once, at build time.
# A cross build brings it in from a native build (cmake/win32/host_tools.cmake).
if(NOT TARGET qv_catalogue_gen)
  add_executable(qv_catalogue_gen ${CMAKE_SOURCE_DIR}/tools/gen/catalogue_gen.cpp)
  target_include_directories(qv_catalogue_gen PRIVATE ${CMAKE_SOURCE_DIR})
endif()

set(QV_CATALOGUE_CP932 ${CMAKE_BINARY_DIR}/generated/catalogue_cp932.cpp)
# The views' own texts (platform/dialogs/view_texts.h) the same way.
set(QV_VIEW_TEXTS_CP932 ${CMAKE_BINARY_DIR}/generated/view_texts_cp932.cpp)
add_custom_command(
  OUTPUT ${QV_CATALOGUE_CP932} ${QV_VIEW_TEXTS_CP932}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated
  COMMAND qv_catalogue_gen ${QV_CATALOGUE_CP932} ${QV_VIEW_TEXTS_CP932}
  DEPENDS qv_catalogue_gen ${CMAKE_SOURCE_DIR}/state/catalogue_texts.h
          ${CMAKE_SOURCE_DIR}/platform/dialogs/view_texts.h
  COMMENT "Converting the catalogue's Japanese texts to code page 932"
  VERBATIM)
list(APPEND QV_GENERATED_SOURCES ${QV_CATALOGUE_CP932})
