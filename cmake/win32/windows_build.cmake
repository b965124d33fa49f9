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
                                 ${CMAKE_SOURCE_DIR}/platform/capture.cpp
                                 ${CMAKE_SOURCE_DIR}/platform/output_file.cpp
                                 ${CMAKE_SOURCE_DIR}/platform/history.cpp)
file(GLOB QV_WIN32_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/win32/*.cpp)
qv_room_library(platform/win32 SOURCES ${QV_WIN32_SOURCES} BELOW qv_platform)
target_link_libraries(qv_platform_win32 PUBLIC user32 gdi32 advapi32 version kernel32)
# The code page conversion the history's lines need is the system's own
# here (platform/win32/win32_text_convert.cpp): linked after the platform.
target_link_libraries(qv_platform INTERFACE qv_platform_win32)

set(QV_PLATFORM_UNDER_STATE qv_platform_win32)
set(QV_PLATFORM_UNDER_APP qv_platform_win32)
set(QV_APP_SOURCES ${CMAKE_SOURCE_DIR}/app/startup.cpp ${CMAKE_SOURCE_DIR}/app/main_window.cpp
                   ${CMAKE_SOURCE_DIR}/app/package_option.cpp
                   ${CMAKE_SOURCE_DIR}/app/recording.cpp)
include(${CMAKE_SOURCE_DIR}/cmake/rooms/logic.cmake)

add_executable(Quorvanta WIN32 ${CMAKE_SOURCE_DIR}/app/win32_main.cpp
                               ${CMAKE_SOURCE_DIR}/resources/quorvanta.rc
                               ${CMAKE_SOURCE_DIR}/resources/manifest.rc)
target_include_directories(Quorvanta PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/resources)
target_link_libraries(Quorvanta PRIVATE qv_app)
include(${CMAKE_SOURCE_DIR}/cmake/packaging/windows_zip.cmake)

# Test pieces, never shipped: a wnaspi32.dll that serves the virtual PC's
# emulated drives through the ASPI entry points, and a probe that reads the
# dialogs of a running program through USER32.
if(QV_BUILD_TESTS)
  add_library(wnaspi32 SHARED ${CMAKE_SOURCE_DIR}/tests/wine/wnaspi32_dll.cpp
                              ${CMAKE_SOURCE_DIR}/tests/wine/ask_inside_exit.cpp
                              ${CMAKE_SOURCE_DIR}/platform/sim/emulated_drive.cpp
                              ${CMAKE_SOURCE_DIR}/platform/sim/emulated_drive_setup.cpp
                              ${CMAKE_SOURCE_DIR}/platform/sim/sim_aspi.cpp
                              ${CMAKE_SOURCE_DIR}/platform/sim/virtual_clock.cpp)
  set_target_properties(wnaspi32 PROPERTIES PREFIX "")
  target_include_directories(wnaspi32 PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(wnaspi32 PRIVATE qv_platform user32)

  # The same drives behind SCSI pass-through instead (the program's own
  # imports pointed at them), as standin/wnaspi32.dll.
  add_library(pass_through_standin SHARED ${CMAKE_SOURCE_DIR}/tests/wine/wnaspi32_dll.cpp
                                          ${CMAKE_SOURCE_DIR}/tests/wine/ask_inside_exit.cpp
                                          ${CMAKE_SOURCE_DIR}/platform/sim/emulated_drive.cpp
                                          ${CMAKE_SOURCE_DIR}/platform/sim/emulated_drive_setup.cpp
                                          ${CMAKE_SOURCE_DIR}/platform/sim/sim_aspi.cpp
                                          ${CMAKE_SOURCE_DIR}/platform/sim/virtual_clock.cpp)
  set_target_properties(pass_through_standin PROPERTIES PREFIX "" OUTPUT_NAME wnaspi32
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/standin
                        ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/standin)
  target_compile_definitions(pass_through_standin PRIVATE QV_PASS_THROUGH_STANDIN)
  target_include_directories(pass_through_standin PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(pass_through_standin PRIVATE qv_platform user32)

  add_executable(qvprobe ${CMAKE_SOURCE_DIR}/tests/wine/qvprobe.cpp)
  target_include_directories(qvprobe PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(qvprobe PRIVATE user32)

  # The same probe kept running for the guest of tests/spti/.
  add_executable(spti_probe ${CMAKE_SOURCE_DIR}/tests/spti/spti_probe.cpp)
  target_include_directories(spti_probe PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(spti_probe PRIVATE user32)

  add_executable(dialog_rects ${CMAKE_SOURCE_DIR}/tests/wine/dialog_rects.cpp
                              ${CMAKE_SOURCE_DIR}/resources/quorvanta.rc)
  target_include_directories(dialog_rects PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/resources)
  target_link_libraries(dialog_rects PRIVATE qv_platform_win32 qv_platform)

  enable_testing()
  # The tests run the program as a user gets it: out of the zip, made and
  # unpacked first (tests/wine/zip.cmake).
  add_test(NAME wine_zip COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR}
                                 -DCPACK=${CMAKE_CPACK_COMMAND} -DVERSION=${QV_VERSION}
                                 -P ${CMAKE_SOURCE_DIR}/tests/wine/zip.cmake)
  set_tests_properties(wine_zip PROPERTIES LABELS wine FIXTURES_SETUP wine_zip)
  file(GLOB QV_WINE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/*.sh)
  list(FILTER QV_WINE_TESTS EXCLUDE REGEX ".*/lib_.*")
  foreach(script ${QV_WINE_TESTS})
    get_filename_component(name ${script} NAME_WE)
    add_test(NAME wine_${name} COMMAND sh ${script} ${CMAKE_BINARY_DIR} ${QV_HOST_TOOLS_PATH})
    set_tests_properties(wine_${name} PROPERTIES LABELS wine TIMEOUT 600 RUN_SERIAL TRUE
                                                 FIXTURES_REQUIRED wine_zip)
  endforeach()
  # The program with no ASPI layer at all, reaching emulated drives through
  # Wine's SCSI pass-through and a real kernel: Wine, X and the prefix run in
  # a QEMU guest from this machine's root over 9p (tests/spti/). Skipped (77)
  # where a component is missing, unless the test command requires them all.
  add_test(NAME spti_guest COMMAND sh ${CMAKE_SOURCE_DIR}/tests/spti/spti_guest.sh
                                   ${CMAKE_BINARY_DIR} ${QV_HOST_TOOLS_PATH})
  if("$ENV{QV_REQUIRE_COMPONENTS}" STREQUAL "1")
    set(QV_SPTI_SKIP)
  else()
    set(QV_SPTI_SKIP SKIP_RETURN_CODE 77)
  endif()
  set_tests_properties(spti_guest PROPERTIES LABELS spti TIMEOUT 900 RUN_SERIAL TRUE
                                             FIXTURES_REQUIRED wine_zip ${QV_SPTI_SKIP})
endif()
