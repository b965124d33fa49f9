# The version lives in one place, the version resource of
# resources/quorvanta.rc (its "ProductVersion" text): Quorvanta.exe carries
# it, `--version` prints it (QV_VERSION) and the packages are numbered by it.
file(STRINGS ${CMAKE_SOURCE_DIR}/resources/quorvanta.rc QV_VERSION_LINE
     REGEX "VALUE[ \t]+\"ProductVersion\"")
string(REGEX MATCH "\"ProductVersion\"[ \t]*,[ \t]*\"([0-9.]+)\"" _ "${QV_VERSION_LINE}")
if(NOT CMAKE_MATCH_1)
  message(FATAL_ERROR "no ProductVersion in resources/quorvanta.rc")
endif()
set(QV_VERSION ${CMAKE_MATCH_1})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/quorvanta.rc)
