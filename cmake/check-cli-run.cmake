# cmake -DCOMMAND="runner;args" -DEXIT=N -DEXPECT=regex -DPREFIX=wineprefix -P check-cli-run.cmake
#
# One run of korva-upgrader-cli.exe under Wine: the exit status must be EXIT,
# the output (stdout and stderr) must match EXPECT, and no USB library file
# may be left in the user's private folder afterwards.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${COMMAND} OUTPUT_VARIABLE _out ERROR_VARIABLE _out RESULT_VARIABLE _rc TIMEOUT 240)
message("${_out}")
set(_bad "")
if(NOT _rc STREQUAL "${EXIT}")
  string(APPEND _bad "exit status ${_rc}, expected ${EXIT}\n")
endif()
if(NOT _out MATCHES "${EXPECT}")
  string(APPEND _bad "output does not match: ${EXPECT}\n")
endif()
file(GLOB _left ${PREFIX}/drive_c/users/*/Temp/KORVA/korva_usb_*)
if(_left)
  string(APPEND _bad "left behind: ${_left}\n")
endif()
if(_bad)
  message(FATAL_ERROR "${_bad}")
endif()
