# Makes the Windows zip of the cross build BUILD with CPACK and unpacks it
# into BUILD/zip/unpacked, where the tests under Wine take Quorvanta.exe
# from; fails unless it holds exactly the program, README.txt and
# LICENSE.txt, both texts with CRLF line ends.
#   cmake -DBUILD=DIR -DCPACK=cpack -DVERSION=1.0 -P tests/wine/zip.cmake
set(out ${BUILD}/zip)
file(REMOVE_RECURSE ${out})
execute_process(COMMAND ${CPACK} -G ZIP -B ${out} --config ${BUILD}/CPackConfig.cmake
                RESULT_VARIABLE result OUTPUT_VARIABLE log ERROR_VARIABLE log)
set(zip ${out}/Quorvanta-${VERSION}-win32.zip)
if(NOT result EQUAL 0 OR NOT EXISTS ${zip})
  message(FATAL_ERROR "cpack made no ${zip}:\n${log}")
endif()
file(ARCHIVE_EXTRACT INPUT ${zip} DESTINATION ${out}/unpacked)
set(top ${out}/unpacked/Quorvanta-${VERSION}-win32)
file(GLOB_RECURSE found RELATIVE ${out}/unpacked ${out}/unpacked/*)
list(SORT found)
set(expected Quorvanta-${VERSION}-win32/LICENSE.txt Quorvanta-${VERSION}-win32/Quorvanta.exe
             Quorvanta-${VERSION}-win32/README.txt)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "the zip holds ${found}, not ${expected}")
endif()
file(READ ${top}/Quorvanta.exe head LIMIT 2 HEX)
if(NOT head STREQUAL "4d5a")  # "MZ"
  message(FATAL_ERROR "Quorvanta.exe in the zip is not a Windows program")
endif()
# Every LF comes after a CR (text mode would drop the CRs, so bytes are
# compared: " 0a" is one LF byte once each byte has a blank before it).
foreach(text README.txt LICENSE.txt)
  file(READ ${top}/${text} hex HEX)
  string(REGEX REPLACE "(..)" " \\1" bytes "${hex}")
  string(REGEX MATCHALL " 0a" lf "${bytes}")
  string(REGEX MATCHALL " 0d 0a" crlf "${bytes}")
  list(LENGTH lf lf_count)
  list(LENGTH crlf crlf_count)
  if(lf_count EQUAL 0 OR NOT lf_count EQUAL crlf_count)
    message(FATAL_ERROR "${text} in the zip ends ${crlf_count} of ${lf_count} lines with CRLF")
  endif()
endforeach()
message(STATUS "${zip}: ${found}")
