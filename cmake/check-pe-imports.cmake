# cmake -DOBJDUMP=... -DDIR=... -DSKIP=... [-DREQUIRE=names] -P check-pe-imports.cmake
#
# Every program and DLL the Windows build made under DIR (SKIP, the Wine prefix, and
# CMake's own compiler probes left out) must be a 32-bit PE that imports nothing but DLLs every Windows
# has: a runtime DLL (libstdc++, libgcc, libwinpthread) would mean a static
# link came undone and the program would not start on a clean machine. FTDI's
# ftd2xx.dll in particular is loaded at run time by full path, never
# imported: an import would make the program refuse to start without the
# driver, and let the loader search the current folder for it. The files
# named in REQUIRE must be among those checked.
cmake_minimum_required(VERSION 3.25)
set(_system_dlls advapi32 bcrypt comctl32 comdlg32 gdi32 imm32 kernel32 msvcrt ole32 oleaut32
    rpcrt4 setupapi shell32 winspool.drv shlwapi user32 uxtheme version winmm ws2_32)
file(GLOB_RECURSE _programs LIST_DIRECTORIES false ${DIR}/*.exe ${DIR}/*.dll)
list(FILTER _programs EXCLUDE REGEX "^${SKIP}/|/CMakeFiles/")
if(NOT _programs)
  message(FATAL_ERROR "no programs under ${DIR}")
endif()
set(_bad "")
foreach(_name IN LISTS REQUIRE)
  set(_found FALSE)
  foreach(_exe IN LISTS _programs)
    get_filename_component(_base ${_exe} NAME)
    if(_base STREQUAL _name)
      set(_found TRUE)
    endif()
  endforeach()
  if(NOT _found)
    string(APPEND _bad "${_name}: not built\n")
  endif()
endforeach()
foreach(_exe IN LISTS _programs)
  execute_process(COMMAND ${OBJDUMP} -p ${_exe} OUTPUT_VARIABLE _out RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0 OR NOT _out MATCHES "file format pei-i386" OR NOT _out MATCHES "Magic[ \t]+010b")
    string(APPEND _bad "${_exe}: not a 32-bit PE\n")
    continue()
  endif()
  string(REGEX MATCHALL "DLL Name: [^\n]+" _imports "${_out}")
  set(_names "")
  foreach(_line IN LISTS _imports)
    string(REGEX REPLACE "DLL Name: ([^\n]+)" "\\1" _dll "${_line}")
    string(STRIP "${_dll}" _dll)
    string(TOLOWER "${_dll}" _dll)
    string(REGEX REPLACE "\\.dll$" "" _dll "${_dll}")
    list(APPEND _names ${_dll})
    if(_dll STREQUAL "ftd2xx")
      string(APPEND _bad "${_exe}: imports ftd2xx.dll, which must be loaded at run time\n")
    elseif(NOT _dll IN_LIST _system_dlls)
      string(APPEND _bad "${_exe}: imports ${_dll}.dll\n")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES _names)
  file(RELATIVE_PATH _rel ${DIR} ${_exe})
  string(REPLACE ";" " " _names "${_names}")
  message(STATUS "${_rel}: PE32, imports ${_names}")
endforeach()
if(_bad)
  message(FATAL_ERROR "${_bad}")
endif()
