# The Windows zip, made by `cpack` in the cross build: Quorvanta.exe, a
# README.txt for Windows users and the licence, both with CRLF line ends so
# that Notepad shows them. The test pieces (wnaspi32.dll, the probes) are
# never installed. Included by cmake/win32/windows_build.cmake.
set(QV_ZIP_FILES ${CMAKE_BINARY_DIR}/zip-files)
configure_file(${CMAKE_SOURCE_DIR}/docs/windows/README.txt ${QV_ZIP_FILES}/README.txt @ONLY
               NEWLINE_STYLE CRLF)
configure_file(${CMAKE_SOURCE_DIR}/LICENSE ${QV_ZIP_FILES}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
install(TARGETS Quorvanta RUNTIME DESTINATION .)
install(FILES ${QV_ZIP_FILES}/README.txt ${QV_ZIP_FILES}/LICENSE.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Quorvanta)
set(CPACK_PACKAGE_VERSION ${QV_VERSION})
set(CPACK_PACKAGE_FILE_NAME Quorvanta-${QV_VERSION}-win32)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)
