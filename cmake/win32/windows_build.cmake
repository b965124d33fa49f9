# Quorvanta.exe: the logic's rooms as they are, over platform/win32 (each
# group passed straight through to the system) instead of the virtual PC, the
# host and the dialog model; the dialogs come from resources/quorvanta.rc as
# windres compiles it. Included by CMakeLists.txt when QV_PLATFORM is win32.
enable_language(RC)
# One program file a Windows user can copy anywhere: no runtime DLLs beside it.
add_link_options(-static -static-libgcc -static-libstdc++)

qv_room_library(platform SOURCES ${CMAKE_SOURCE_DIR}/platform/platform.cpp
                                 ${CMAKE_SOURCE_DIR}/platform/events.cpp
                                 ${CMAKE_SOURCE_DIR}/platform/hold.cpp
                                 ${CMAKE_SOURCE_DIR}/platform/trace.cpp
                                 ${CMAKE_SOURCE_DIR}/platform/capture.cpp)
file(GLOB QV_WIN32_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/win32/*.cpp)
qv_room_library(platform/win32 SOURCES ${QV_WIN32_SOURCES} BELOW qv_platform)
target_link_libraries(qv_platform_win32 PUBLIC user32 gdi32 advapi32 version kernel32)

qv_room_library(state EXTRA ${QV_CATALOGUE_CP932} BELOW qv_platform_win32 qv_platform)
qv_room_library(package BELOW qv_state)
qv_room_library(drive BELOW qv_state)
qv_room_library(resume BELOW qv_drive qv_state)
qv_room_library(ui BELOW qv_drive qv_state)
qv_room_library(update BELOW qv_ui qv_resume qv_package qv_drive qv_state)
qv_room_library(app SOURCES ${CMAKE_SOURCE_DIR}/app/startup.cpp ${CMAKE_SOURCE_DIR}/app/main_window.cpp
                          ${CMAKE_SOURCE_DIR}/app/recording.cpp
                BELOW qv_update qv_ui qv_resume qv_drive qv_package qv_state
                      qv_platform_win32 qv_platform)

add_executable(Quorvanta WIN32 ${CMAKE_SOURCE_DIR}/app/win32_main.cpp
                               ${CMAKE_SOURCE_DIR}/resources/quorvanta.rc)
target_include_directories(Quorvanta PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/resources)
target_link_libraries(Quorvanta PRIVATE qv_app)

# Test pieces, never shipped: a wnaspi32.dll that serves the virtual PC's
# emulated drives through the ASPI entry points, and a probe that reads the
# dialogs of a running program through USER32.
if(QV_BUILD_TESTS)
  add_library(wnaspi32 SHARED ${CMAKE_SOURCE_DIR}/tests/wine/wnaspi32_dll.cpp
                              ${CMAKE_SOURCE_DIR}/platform/sim/emulated_drive.cpp
                              ${CMAKE_SOURCE_DIR}/platform/sim/emulated_drive_setup.cpp
                              ${CMAKE_SOURCE_DIR}/platform/sim/sim_aspi.cpp
                              ${CMAKE_SOURCE_DIR}/platform/sim/virtual_clock.cpp)
  set_target_properties(wnaspi32 PROPERTIES PREFIX "")
  target_include_directories(wnaspi32 PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(wnaspi32 PRIVATE qv_platform)

  add_executable(qvprobe ${CMAKE_SOURCE_DIR}/tests/wine/qvprobe.cpp)
  target_include_directories(qvprobe PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(qvprobe PRIVATE user32)

  add_executable(dialog_rects ${CMAKE_SOURCE_DIR}/tests/wine/dialog_rects.cpp
                              ${CMAKE_SOURCE_DIR}/resources/quorvanta.rc)
  target_include_directories(dialog_rects PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/resources)
  target_link_libraries(dialog_rects PRIVATE qv_platform_win32 qv_platform)

  enable_testing()
  file(GLOB QV_WINE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/*.sh)
  list(FILTER QV_WINE_TESTS EXCLUDE REGEX ".*/lib_.*")
  foreach(script ${QV_WINE_TESTS})
    get_filename_component(name ${script} NAME_WE)
    add_test(NAME wine_${name} COMMAND sh ${script} ${CMAKE_BINARY_DIR} ${QV_HOST_TOOLS_PATH})
    set_tests_properties(wine_${name} PROPERTIES LABELS wine TIMEOUT 600 RUN_SERIAL TRUE)
  endforeach()
endif()
