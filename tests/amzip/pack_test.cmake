# orvane-zip pack, tested with the embedded-archive probe as the launcher: run by CTest as
#   cmake -DTOOL=... -DPLAIN=... -DEMBEDDED=... -DCONTENT=... -DFOLDER=... -DNOT_ZIP=... -DOUT=...
#         [-DEMULATOR=...] [-DEXE=.exe] -P pack_test.cmake
# CONTENT holds "page.html" and "sub/data.txt", zipped from the folder FOLDER; EMBEDDED already
# carries another archive.
function(run expected_status)
  execute_process(COMMAND ${EMULATOR} ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status STREQUAL "${expected_status}")
    message(FATAL_ERROR "${ARGN}\nexited ${status}, expected ${expected_status}\n${out}\n${err}")
  endif()
  set(last_error "${err}" PARENT_SCOPE)
endfunction()

file(MAKE_DIRECTORY "${OUT}")
# A launcher without an archive gets one.
run(0 "${TOOL}" pack "${CONTENT}" -o "${OUT}/packed${EXE}" --launcher "${PLAIN}")
if(NOT last_error MATCHES "no index.html at the top of the archive")
  message(FATAL_ERROR "no warning for a zip without index.html: ${last_error}")
endif()
run(0 "${OUT}/packed${EXE}" page.html sub/data.txt)
# A folder is packed as the archive of its files.
run(0 "${TOOL}" pack "${FOLDER}" -o "${OUT}/folder${EXE}" --launcher "${PLAIN}")
run(0 "${OUT}/folder${EXE}" page.html sub/data.txt)
# A launcher that carries an archive has it replaced: only the new entries are found.
run(0 "${TOOL}" pack "${CONTENT}" -o "${OUT}/repacked${EXE}" --launcher "${EMBEDDED}")
run(0 "${OUT}/repacked${EXE}" page.html sub/data.txt)
# Packing the packed program again replaces its archive once more, without growing.
run(0 "${TOOL}" pack "${CONTENT}" -o "${OUT}/twice${EXE}" --launcher "${OUT}/packed${EXE}")
file(SIZE "${OUT}/packed${EXE}" once)
file(SIZE "${OUT}/twice${EXE}" twice)
if(NOT once EQUAL twice)
  message(FATAL_ERROR "repacking grew the program from ${once} to ${twice} bytes")
endif()
run(0 "${OUT}/twice${EXE}" page.html sub/data.txt)
# Refused: a content file that is not an archive, a missing launcher, wrong usage.
run(1 "${TOOL}" pack "${NOT_ZIP}" -o "${OUT}/refused${EXE}" --launcher "${PLAIN}")
if(NOT last_error MATCHES "cannot be read as an archive")
  message(FATAL_ERROR "no reason given for a non-archive: ${last_error}")
endif()
run(1 "${TOOL}" pack "${CONTENT}" -o "${OUT}/refused${EXE}" --launcher "${OUT}/no-such-launcher")
if(NOT last_error MATCHES "no launcher program")
  message(FATAL_ERROR "no reason given for a missing launcher: ${last_error}")
endif()
if(EXISTS "${OUT}/refused${EXE}")
  message(FATAL_ERROR "a refused pack left an output behind")
endif()
run(64 "${TOOL}" pack "${CONTENT}")
