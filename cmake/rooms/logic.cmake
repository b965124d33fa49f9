# The logic's rooms and the libraries each one links, the same on every
# platform. Both builds include this list once they have made the platform's
# own rooms: CMakeLists.txt (this host and the virtual PC) and
# cmake/win32/windows_build.cmake (Quorvanta.exe). They set beforehand:
#   QV_PLATFORM_UNDER_STATE  the dialogs group the message catalogue's room
#                            calls straight into
#   QV_PLATFORM_UNDER_APP    the implementations the composition root wires
#   QV_APP_SOURCES           the top room's sources, when not all of app/
qv_room_library(state EXTRA ${QV_CATALOGUE_CP932} BELOW ${QV_PLATFORM_UNDER_STATE} qv_platform)
qv_room_library(package BELOW qv_state)
qv_room_library(drive BELOW qv_state)
qv_room_library(resume BELOW qv_drive qv_state)
qv_room_library(ui BELOW qv_drive qv_state)
qv_room_library(update BELOW qv_ui qv_resume qv_package qv_drive qv_state)
if(QV_APP_SOURCES)
  set(QV_APP_SOURCES_ARGUMENT SOURCES ${QV_APP_SOURCES})
endif()
qv_room_library(app ${QV_APP_SOURCES_ARGUMENT}
                BELOW qv_update qv_ui qv_resume qv_drive qv_package qv_state
                      ${QV_PLATFORM_UNDER_APP} qv_platform)
# `--version` prints the version of the version resource (cmake/version.cmake).
target_compile_definitions(qv_app PRIVATE QV_VERSION="${QV_VERSION}")
