# The suites of the Windows build, run under Wine (cmake/wine-run.sh). A
# suite or file left out says why in one line.

# korva_windows_tests(NAME DEPS... FILES files... [THREADED])
function(korva_windows_tests name)
  cmake_parse_arguments(ARG "THREADED" "" "DEPS;FILES" ${ARGN})
  add_executable(${name} ${ARG_FILES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main Threads::Threads)
  if(ARG_THREADED)
    set(_labels threaded)
  else()
    set(_labels unit)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${_labels}" TIMEOUT 300)
endfunction()

set(_t ${CMAKE_CURRENT_SOURCE_DIR})

# platform/: left out are locale_test (reads the POSIX locale variables),
# paths_test (file modes and TMPDIR), sharedlib_test (an ELF plugin and
# loading by descriptor), portlisting_test and serialport_mt_test (ttys and
# pseudo-terminals).
korva_windows_tests(platform_tests DEPS korva_platform FILES ${_t}/platform/syserror_test.cpp)
korva_windows_tests(platform_tests_mt THREADED DEPS korva_platform FILES ${_t}/platform/event_mt_test.cpp)

# base/: every suite.
korva_windows_tests(base_tests DEPS korva_base FILES ${_t}/base/support/TempDir.cpp
  ${_t}/base/bytebuffer_test.cpp ${_t}/base/resultcodes_test.cpp ${_t}/base/strings_test.cpp
  ${_t}/base/updatelog_test.cpp)
korva_windows_tests(base_tests_mt THREADED DEPS korva_base FILES ${_t}/base/support/TempDir.cpp
  ${_t}/base/messagewindow_mt_test.cpp ${_t}/base/objectlock_mt_test.cpp ${_t}/base/updatelog_mt_test.cpp)

# protocol/: every suite.
korva_windows_tests(protocol_tests DEPS korva_protocol FILES ${_t}/protocol/support/FakeInterface.cpp
  ${_t}/protocol/updateinterface_test.cpp)
korva_windows_tests(protocol_tests_mt THREADED DEPS korva_protocol FILES ${_t}/protocol/support/FakeInterface.cpp
  ${_t}/protocol/updateinterface_mt_test.cpp)

# transport/: the port records, and the I/O thread on the fake port (line
# errors, writes that finish later, stops: what Wine's serial layer cannot
# show). Left out are commdriver_mt_test and comminterface_mt_test (pseudo-
# terminals) and usblibraryfile_test (descriptors, file modes and the
# embedded Linux library; the Windows file is run end to end below).
korva_windows_tests(transport_tests DEPS korva_transport FILES ${_t}/transport/interfaceparameter_test.cpp)
korva_windows_tests(transport_tests_mt THREADED DEPS korva_transport FILES
  ${_t}/transport/support/SerialTestSupport.cpp ${_t}/base/support/TempDir.cpp ${_t}/transport/commthread_mt_test.cpp)

# device/: every suite.
set(_device_support ${_t}/device/support/DeviceFixtures.cpp ${_t}/base/support/TempDir.cpp)
korva_windows_tests(device_tests DEPS korva_device FILES ${_device_support}
  ${_t}/device/compatibility_test.cpp ${_t}/device/devicelist_test.cpp ${_t}/device/deviceparameter_test.cpp)
korva_windows_tests(device_tests_mt THREADED DEPS korva_device FILES ${_device_support}
  ${_t}/device/device_mt_test.cpp)

# The serial ports of the search, window and fault tests: simulated
# instruments at the far end of modelled lines, the only ports listed and
# opened (tests/transport/support).
set(_line_support ${_t}/transport/support/win32/LineInstrument.cpp ${_t}/transport/support/LineModel.cpp)
set(_usb_sim_dll "Z:$<TARGET_FILE:korva_usb_sim>")
set(_search_support ${_t}/search/support/SearchTestSupport.cpp ${_t}/base/support/TempDir.cpp ${_line_support})

# search/ and window/: every suite.
korva_windows_tests(search_tests_mt THREADED DEPS korva_search korva_sim FILES ${_t}/search/threadlist_mt_test.cpp
  ${_t}/search/devicesearch_mt_test.cpp ${_search_support})
korva_windows_tests(window_tests_mt THREADED DEPS korva_window korva_sim FILES ${_t}/window/updatewnd_mt_test.cpp
  ${_search_support})
target_include_directories(window_tests_mt PRIVATE ${_t}/search)
# usb/: the transport on the simulated USB DLL (usblibrary_test is the
# libftdi1 library of Linux).
korva_windows_tests(usb_tests_mt THREADED DEPS korva_search korva_sim FILES ${_t}/usb/usbtransport_mt_test.cpp
  ${_search_support} ${_t}/transport/support/SerialTestSupport.cpp)
foreach(_target search_tests_mt window_tests_mt usb_tests_mt)
  add_dependencies(${_target} korva_usb_sim)
  target_compile_definitions(${_target} PRIVATE KORVA_USB_SIM_LIBRARY_PATH="${_usb_sim_dll}")
endforeach()

# faults/: the fault matrix over modelled lines and the simulated USB DLL,
# loaded in-process by full path. Left out is the soak test (it measures
# glibc's heap and /proc; label slow on Linux too).
add_executable(faults_tests_mt ${_t}/faults/faultmatrix_mt_test.cpp ${_t}/faults/support/FaultRig.cpp
  ${_search_support})
target_link_libraries(faults_tests_mt PRIVATE korva_window korva_sim korva_firmware korva_logreader
  GTest::gtest GTest::gtest_main Threads::Threads)
target_include_directories(faults_tests_mt PRIVATE ${PROJECT_SOURCE_DIR}/tests)
add_dependencies(faults_tests_mt korva_usb_sim)
target_compile_definitions(faults_tests_mt PRIVATE KORVA_USB_SIM_LIBRARY_PATH="${_usb_sim_dll}")
# Whole image transfers run one at a time (korva_wine_transfer): every chunk
# passes through the one Wine server, and two of them side by side starve
# each other past the simulator's one-second give-up time for a silent load.
# The default run takes every core row over USB and, over modelled lines, the
# rows where the serial transport itself is at stake (a lost port, a cancel,
# lost replies, noise, endless lines); the other serial rows differ only in
# the update's decisions, which the USB rows here and both transports on
# Linux cover. They run with the label slow, as the longer rows do.
set(_serial_rows clean clean_keep_settings vanish_settings_query vanish_image_transfer vanish_flash_programming
  vanish_restart cancel_during_transfer load_reply_lost old_monitor monitor_waits_for_other_count
  garbage_identification junk_before_every_identification endless_lines_after_identification)
list(TRANSFORM _serial_rows PREPEND "Faults/FaultMatrix.*/core_")
list(TRANSFORM _serial_rows APPEND "_serial")
list(JOIN _serial_rows ":" _serial_rows)
gtest_discover_tests(faults_tests_mt DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
  TEST_FILTER "Faults/FaultMatrix.*/core_*_usb:${_serial_rows}" PROPERTIES LABELS faults_threaded TIMEOUT 300
  RESOURCE_LOCK korva_wine_transfer)
gtest_discover_tests(faults_tests_mt DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
  TEST_FILTER "Faults/FaultMatrix.*/more_*_usb:Faults/FaultMatrix.*/core_*_serial-${_serial_rows}"
  PROPERTIES LABELS faults_slow TIMEOUT 300 RESOURCE_LOCK korva_wine_transfer)

# update/: the update thread against the simulated instrument at the far
# end of a modelled line (tests/update/support), one transfer at a time as
# above. update/slow runs one update at full length on a pseudo-terminal.
add_executable(update_tests_mt ${_t}/update/devupdatethread_mt_test.cpp ${_t}/update/support/UpdateTestSupport.cpp
  ${_line_support} ${_t}/transport/support/SerialTestSupport.cpp ${_t}/base/support/TempDir.cpp)
target_link_libraries(update_tests_mt PRIVATE korva_update korva_sim korva_firmware GTest::gtest GTest::gtest_main
  Threads::Threads)
target_include_directories(update_tests_mt PRIVATE ${_t}/transport)
# Label slow (not in the default run): RetryCounts (ten transfers, about four
# minutes) and FourUpdates (four transfers at once, which on a busy machine
# outlast its two minutes); a process held back past the simulator's one-
# second give-up for a silent load fails the retry counts.
set(_long "UpdateThreadTest.RetryCountsOfLoadChecksumAndRestart:UpdateThreadTest.FourUpdatesOnFourPortsAtOnce")
gtest_discover_tests(update_tests_mt DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_FILTER "-${_long}"
  PROPERTIES LABELS threaded TIMEOUT 600 RESOURCE_LOCK korva_wine_transfer)
gtest_discover_tests(update_tests_mt DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 TEST_FILTER "${_long}"
  PROPERTIES LABELS slow TIMEOUT 600 RESOURCE_LOCK korva_wine_transfer)

# Not run is ui/ (Qt). cli/cli_test drives the program through POSIX
# processes and signals; the runs below stand in for it.
#
# korva-upgrader-cli.exe end to end: the simulated USB DLL written to the
# private folder, loaded by full path and deleted after it was freed; without
# FTDI's driver USB is off and the output says why. NAME|EXIT|REGEX|ARG|ARG...
# One test windows.cli.NAME per "NAME|EXIT|REGEX|ARGS..." entry of RUNS:
# LAUNCH starts the program with ARGS, check-cli-run.cmake judges its exit
# code and output; PROPERTIES are the tests' own.
function(korva_cli_tests)
  cmake_parse_arguments(PARSE_ARGV 0 _cli "" "" "LAUNCH;PROPERTIES;RUNS")
  foreach(_run IN LISTS _cli_RUNS)
    string(REPLACE "|" ";" _fields "${_run}")
    list(POP_FRONT _fields _name _exit _regex)
    add_test(NAME windows.cli.${_name}
      COMMAND ${CMAKE_COMMAND} "-DCOMMAND=${_cli_LAUNCH};${_fields}"
              -DEXIT=${_exit} "-DEXPECT=${_regex}" -DPREFIX=${CMAKE_BINARY_DIR}/wine
              -P ${PROJECT_SOURCE_DIR}/cmake/check-cli-run.cmake)
    set_tests_properties(windows.cli.${_name} PROPERTIES LABELS integration TIMEOUT 300 ${_cli_PROPERTIES})
  endforeach()
endfunction()

set(_cli_runs
  "simulated_update|0|SIM00001: The software update was successfull|--simulate|update|SIM00001"
  "simulated_json_update|0|\"result\": \"updated\", \"version\": \"05.306-02.011\"|--simulate|--json|update|SIM00001"
  "simulated_json_list|0|#SIM00001.*#SIM00002.*\"updatePossible\": true|--simulate=2|--json|list"
  "json_list_without_driver|0|ftd2xx.dll cannot be loaded \\(is the FTDI driver installed\\?\\)|--json|list"
  "instrument_vanishes|1|SIM00001: The connection to the instrument was lost|--simulate-with=--vanish-at load|update|SIM00001"
  "refused_by_rules|2|Please use the RS232 interface|--simulate-version=02.250-02.004|update|SIM00001")
korva_cli_tests(LAUNCH ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:korva-upgrader-cli>
  PROPERTIES RESOURCE_LOCK korva_private_folder RUNS ${_cli_runs})

# The same over a serial line: the Windows serial port and port listing on
# Wine's COM4, linked to the Linux simulator's pseudo-terminal (built here
# for the build machine). One at a time: the link is the prefix's.
file(GLOB _host_sim_sources ${PROJECT_SOURCE_DIR}/sim/*.cpp ${PROJECT_SOURCE_DIR}/platform/*.cpp
  ${PROJECT_SOURCE_DIR}/platform/linux/*.cpp)
file(GLOB _host_sim_headers ${PROJECT_SOURCE_DIR}/sim/*.h ${PROJECT_SOURCE_DIR}/platform/*.h
  ${PROJECT_SOURCE_DIR}/platform/linux/*.h)
korva_host_tool(korva-sim SOURCES ${_host_sim_sources} ${PROJECT_SOURCE_DIR}/sim/main/main.cpp
  HEADERS ${_host_sim_headers})
add_custom_target(korva_host_sim ALL DEPENDS ${korva-sim_EXE})
set(_serial_runs
  "serial_search|0|COM4 +QV3108-2 +Oscilloscope +05.100-02.005 +update possible|--serial|list"
  "serial_update|0|COM4: The software update was successfull|update|COM4|--yes")
korva_cli_tests(LAUNCH ${PROJECT_SOURCE_DIR}/cmake/wine-serial-run.sh ${korva-sim_EXE} ${CMAKE_BINARY_DIR}/wine 4
                       $<TARGET_FILE:korva-upgrader-cli>
  PROPERTIES RUN_SERIAL TRUE RUNS ${_serial_runs})

# sim/: the instrument core and the embedded firmware image (resource 6120).
# pty_mt_test drives pseudo-terminals.
korva_windows_tests(sim_tests DEPS korva_sim korva_firmware FILES ${_t}/sim/firmware_image_test.cpp
  ${_t}/sim/instrument_test.cpp)
target_include_directories(sim_tests PRIVATE ${_t}/sim)

# tools/: the log reader.
korva_windows_tests(tools_tests DEPS korva_base korva_logreader FILES ${_t}/tools/logreader_test.cpp
  ${_t}/base/support/TempDir.cpp)
target_compile_definitions(tools_tests PRIVATE KORVA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")

# The Wine runs must never reach the machine's serial devices.
add_executable(no_real_ports ${_t}/platform/support_win32/no_real_ports.c)
add_test(NAME wine.real_serial_ports_hidden COMMAND no_real_ports)
set_tests_properties(wine.real_serial_ports_hidden PROPERTIES LABELS unit)

# Every program is a 32-bit PE that needs only the system's own DLLs; the
# command-line program loads FTDI's ftd2xx.dll at run time, never imports it.
find_program(KORVA_OBJDUMP NAMES i686-w64-mingw32-objdump REQUIRED)
add_test(NAME windows.programs_import_only_system_dlls
  COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${KORVA_OBJDUMP} -DDIR=${CMAKE_BINARY_DIR}
          -DSKIP=${CMAKE_BINARY_DIR}/wine[^/]* "-DREQUIRE=korva-upgrader-cli.exe;korva_usb_sim.dll;korva-upgrader.exe" -P ${PROJECT_SOURCE_DIR}/cmake/check-pe-imports.cmake)
set_tests_properties(windows.programs_import_only_system_dlls PROPERTIES LABELS unit)

# The window (winui/) on a virtual display under Wine, in a prefix of its own
# whose system folder holds the simulated USB library as the driver's
# (tests/windows/desktop.sh): window_check starts korva-upgrader.exe and
# checks its main window, a second start and closing.
add_executable(window_check ${_t}/windows/window_check.cpp)
target_link_options(window_check PRIVATE -municode)
set(KORVA_WINE_GUI_PREFIX ${CMAKE_BINARY_DIR}/wine-gui)
set(_desktop sh ${_t}/windows/desktop.sh ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${KORVA_WINE_GUI_PREFIX}
  $<TARGET_FILE:korva_usb_sim>)
add_test(NAME windows.window_starts
  COMMAND ${_desktop} ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${KORVA_WINE_GUI_PREFIX}
          $<TARGET_FILE:window_check> $<TARGET_FILE:korva-upgrader>)
# One display and one Wine desktop at a time for the prefix.
set_tests_properties(windows.window_starts PROPERTIES LABELS gui RESOURCE_LOCK korva_wine_gui TIMEOUT 600)
# korva-win-shots drives the window on two simulated USB instruments: they are
# listed, an update runs with its progress window in front, closing asks
# while it runs, and Cancel ends it before the FLASH is programmed.
add_test(NAME windows.window_update
  COMMAND ${_desktop} ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${KORVA_WINE_GUI_PREFIX}
          $<TARGET_FILE:korva-win-shots> Z:${CMAKE_CURRENT_BINARY_DIR} en)
set_tests_properties(windows.window_update PROPERTIES LABELS gui RESOURCE_LOCK korva_wine_gui TIMEOUT 600)
# The installer: silent install into the prefix, the installed program's
# main window, silent uninstall; the portable zip's contents.
set(_package ${CMAKE_BINARY_DIR}/winui/installer/korva-upgrader-6.000)
add_test(NAME windows.installer
  COMMAND ${_desktop} sh ${_t}/windows/installer.sh ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${KORVA_WINE_GUI_PREFIX}
          ${_package}-setup.exe ${_package}-portable.zip $<TARGET_FILE:window_check>)
set_tests_properties(windows.installer PROPERTIES LABELS gui RESOURCE_LOCK korva_wine_gui TIMEOUT 600)
