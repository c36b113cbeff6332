# korva_library(NAME DIR [DEPS ...])
# One static library per source folder. Sources are globbed so that
# parallel work in different folders never edits a shared list.
function(korva_library name dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _srcs CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.cc ${dir}/*.S)
  add_library(${name} STATIC ${_srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# korva_tests(NAME DIR [DEPS ...])
# Every *_test.cpp of DIR goes into NAME (label "unit"); every *_mt_test.cpp
# into NAME_mt (label "threaded", the suite that also runs under TSan).
function(korva_tests name dir)
  cmake_parse_arguments(ARG "" "" "DEPS;LABELS" ${ARGN})
  file(GLOB _unit CONFIGURE_DEPENDS ${dir}/*_test.cpp)
  list(FILTER _unit EXCLUDE REGEX "_mt_test\\.cpp$")
  file(GLOB _mt CONFIGURE_DEPENDS ${dir}/*_mt_test.cpp)
  file(GLOB _support CONFIGURE_DEPENDS ${dir}/support/*.cpp)
  # One label each: gtest_discover_tests flattens a list of labels into
  # property names. Threaded suites are "threaded" (the TSan run takes them)
  # unless they are "slow", which keeps them out of every default run.
  set(_unit_labels unit)
  if(ARG_LABELS)
    list(GET ARG_LABELS 0 _unit_labels)
  endif()
  set(_mt_labels threaded)
  if("slow" IN_LIST ARG_LABELS)
    set(_mt_labels slow)
  endif()
  if(_unit)
    add_executable(${name} ${_unit} ${_support})
    target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main Threads::Threads)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
      PROPERTIES LABELS "${_unit_labels}" TIMEOUT 120)
  endif()
  if(_mt)
    add_executable(${name}_mt ${_mt} ${_support})
    target_link_libraries(${name}_mt PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main Threads::Threads)
    gtest_discover_tests(${name}_mt DISCOVERY_MODE PRE_TEST
      PROPERTIES LABELS "${_mt_labels}" TIMEOUT 300)
  endif()
endfunction()

# korva_embed(TARGET SYMBOL FILE [DEPENDS ...])
# Embeds FILE into TARGET with the assembler's .incbin, as the bytes between
# <SYMBOL>_begin and <SYMBOL>_end, without turning it into C source.
function(korva_embed target symbol file)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  set(_asm ${CMAKE_CURRENT_BINARY_DIR}/${symbol}_embed.S)
  if(WIN32)
    # PE: read-only data is .rdata, and 32-bit C names carry an underscore.
    set(_section ".section .rdata,\"dr\"")
    set(_name _${symbol})
    set(_note "")
  else()
    set(_section ".section .rodata")
    set(_name ${symbol})
    set(_note "    .section .note.GNU-stack,\"\",@progbits\n")
  endif()
  file(WRITE ${_asm}
    "    ${_section}\n"
    "    .global ${_name}_begin\n"
    "    .global ${_name}_end\n"
    "    .balign 16\n"
    "${_name}_begin:\n"
    "    .incbin \"${file}\"\n"
    "${_name}_end:\n"
    "${_note}")
  set_source_files_properties(${_asm} PROPERTIES OBJECT_DEPENDS "${file};${ARG_DEPENDS}")
  target_sources(${target} PRIVATE ${_asm})
endfunction()
