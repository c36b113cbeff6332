# cmake -DSOURCE=<tree> -DPROGRAM=<exe> -DSTAGE=<folder> -P stage.cmake
# Stages what the installer and the portable zip carry: the program, the
# README's Windows section as text, and the licence texts of the runtime
# linked into the program (mingw-w64 and GCC's, from Debian's packages).
file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE}/licences)
file(COPY ${PROGRAM} DESTINATION ${STAGE})

file(READ ${SOURCE}/README.md readme)
string(FIND "${readme}" "\n## Windows\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "README.md has no Windows section")
endif()
string(SUBSTRING "${readme}" ${start} -1 section)
string(SUBSTRING "${section}" 1 -1 section)
string(FIND "${section}" "\n## " end)
if(NOT end EQUAL -1)
  string(SUBSTRING "${section}" 0 ${end} section)
endif()
# Windows' editor wants CR LF.
string(REPLACE "\n" "\r\n" section "KORVA Instrument Upgrader\n\n${section}\n")
file(WRITE ${STAGE}/README-Windows.txt "${section}")

foreach(pair "mingw-w64-i686-dev;mingw-w64-runtime" "gcc-mingw-w64-base;gcc-runtime")
  list(GET pair 0 package)
  list(GET pair 1 name)
  set(copyright /usr/share/doc/${package}/copyright)
  if(NOT EXISTS ${copyright})
    message(FATAL_ERROR "${copyright} is missing: the licence texts cannot be carried")
  endif()
  file(READ ${copyright} text)
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${STAGE}/licences/${name}.txt "${text}")
endforeach()
