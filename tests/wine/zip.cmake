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
file(READ ${top}/Quorvanta.exe head LIMIT 2)
if(NOT head STREQUAL "MZ")
  message(FATAL_ERROR "Quorvanta.exe in the zip is not a Windows program")
endif()
foreach(text README.txt LICENSE.txt)
  file(READ ${top}/${text} content)
  string(REPLACE "\r\n" "" bare "${content}")
  string(FIND "${bare}" "\n" lf)
  if(content STREQUAL bare OR NOT lf EQUAL -1)
    message(FATAL_ERROR "${text} in the zip does not end every line with CRLF")
  endif()
endforeach()
message(STATUS "${zip}: ${found}")
