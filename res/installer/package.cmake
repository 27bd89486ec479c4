# Build steps of the Windows packages, run with cmake -P:
#
#   -DMODE=stage -DSTAGE=DIR -DSTAMP=FILE -DPROGRAMS=a.exe|b.exe -DREADME=FILE -DNOTICES=x.txt|y.txt
#               -DEPOCH=SECONDS
#     lays out exactly what both packages hold, under DIR (emptied first):
#     the programs, readme.txt and notices\*.txt, the texts with Windows
#     line ends, so that Notepad of every supported Windows shows them;
#     every file with the build's time SECONDS and the same permissions
#     whatever the umask, which is what the portable zip stores of them;
#     then touches FILE.
#   -DMODE=checksums -DOUT=SHA256SUMS -DFILES=setup.exe|portable.zip
#     writes and prints the SHA-256 of each package, the figures README
#     tells users to compare.

function(WriteWindowsText from to)
  file(READ "${from}" text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE "${to}" "${text}")
endfunction()

# Lists come separated by "|", which no path here holds.
foreach(list PROGRAMS NOTICES FILES)
  string(REPLACE "|" ";" ${list} "${${list}}")
endforeach()

if(MODE STREQUAL "stage")
  if(NOT EPOCH MATCHES "^[0-9]+$")
    message(FATAL_ERROR "package.cmake: stage needs -DEPOCH=SECONDS, the build's time")
  endif()
  file(REMOVE_RECURSE "${STAGE}")
  file(MAKE_DIRECTORY "${STAGE}/notices")
  foreach(program IN LISTS PROGRAMS)
    file(COPY "${program}" DESTINATION "${STAGE}")
  endforeach()
  # UTF-8 with a byte-order mark: without one, Notepad before Windows 10
  # reads the Japanese half in the ANSI code page.
  file(READ "${README}" readme)
  string(REPLACE "\r\n" "\n" readme "${readme}")
  string(REPLACE "\n" "\r\n" readme "${readme}")
  string(ASCII 239 187 191 bom)
  file(WRITE "${STAGE}/readme.txt" "${bom}${readme}")
  foreach(notice IN LISTS NOTICES)
    get_filename_component(name "${notice}" NAME)
    WriteWindowsText("${notice}" "${STAGE}/notices/${name}")
  endforeach()
  # The time and the permissions the zip stores; a Windows program needs
  # no execute bit.
  file(GLOB_RECURSE staged LIST_DIRECTORIES false "${STAGE}/*")
  list(SORT staged)
  file(CHMOD ${staged} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  file(CHMOD "${STAGE}" "${STAGE}/notices" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
       GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  execute_process(COMMAND touch -m -d "@${EPOCH}" ${staged} "${STAGE}/notices" "${STAGE}" RESULT_VARIABLE touched)
  if(NOT touched EQUAL 0)
    message(FATAL_ERROR "package.cmake: could not give the staged files the build's time ${EPOCH}")
  endif()
  file(TOUCH "${STAMP}")
elseif(MODE STREQUAL "checksums")
  set(lines "")
  foreach(file IN LISTS FILES)
    file(SHA256 "${file}" hash)
    get_filename_component(name "${file}" NAME)
    string(APPEND lines "${hash}  ${name}\n")
    file(SIZE "${file}" size)
    message("SHA-256 ${hash}  ${name}  (${size} bytes)")
  endforeach()
  file(WRITE "${OUT}" "${lines}")
else()
  message(FATAL_ERROR "package.cmake: MODE must be stage or checksums")
endif()
