# Small helpers shared by every folder's CMakeLists.

# A Windows program or test that carries its runtime inside.
function(tv_static_runtime target)
  target_link_options(${target} PRIVATE ${TV_STATIC_RUNTIME})
endfunction()

# One CTest test per GoogleTest executable: Wine start-up per process is the
# dominant cost, so the cases of a suite share one process. Every test gets a
# timeout so that a hang fails instead of stalling the run.
function(tv_add_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gmock gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  tv_static_runtime(${name})
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${name}>)
endfunction()

# A fuzz harness (tests/<name>_fuzz_harness.cpp) built with the Windows
# toolchain into a program that replays its saved corpus
# (tests/<name>_fuzz_corpus) through the code it fuzzes, as the test
# <name>_fuzz_corpus_replay; ./dev fuzz builds the same harness natively.
function(tv_add_fuzz_replay name lib)
  add_executable(${name}_fuzz_replay ${PROJECT_SOURCE_DIR}/tests/${name}_fuzz_harness.cpp
    ${PROJECT_SOURCE_DIR}/tests/fuzz_replay_main.cpp)
  target_link_libraries(${name}_fuzz_replay PRIVATE ${lib})
  tv_static_runtime(${name}_fuzz_replay)
  add_test(NAME ${name}_fuzz_corpus_replay
    COMMAND ${name}_fuzz_replay ${PROJECT_SOURCE_DIR}/tests/${name}_fuzz_corpus)
  set_tests_properties(${name}_fuzz_corpus_replay PROPERTIES TIMEOUT 60
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()

# The export contract of a shipped 32-bit DLL, checked from its code with
# objdump: names, the bytes each __stdcall export pops, the imported DLLs and
# that every function imported from Windows exists on Windows 7.
function(tv_add_export_check target contract)
  if(TV_WIDTH EQUAL 32)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    add_test(NAME export_check_${target}
      COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/check_exports.py
              ${TV_OBJDUMP} $<TARGET_FILE:${target}> ${contract}
              ${PROJECT_SOURCE_DIR}/tools/contracts/windows7.txt)
    set_tests_properties(export_check_${target} PROPERTIES TIMEOUT 60)
  endif()
endfunction()

# Reads handset/core/exports.list: one "exported-name argument-bytes" pair a
# line. Sets OUT to a list of "name;function;bytes" triples flattened as
# name|function|bytes, where function is the C name behind a decorated export
# (_CT_RingOn@0 -> CT_RingOn, ?CT_GetStatus@@YGHXZ -> CT_GetStatus). Whoever
# reads the list reconfigures when it changes.
function(tv_read_export_list list_file out)
  file(STRINGS ${list_file} lines REGEX "^[^#]")
  set(entries)
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^([^ \t]+)[ \t]+([0-9]+)")
      continue()
    endif()
    set(name ${CMAKE_MATCH_1})
    set(bytes ${CMAKE_MATCH_2})
    set(function ${name})
    if(name MATCHES "^_(.+)@[0-9]+$")
      set(function ${CMAKE_MATCH_1})
    elseif(name MATCHES "^\\?([A-Za-z0-9_]+)@@")
      set(function ${CMAKE_MATCH_1})
    endif()
    list(APPEND entries "${name}|${function}|${bytes}")
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list_file})
  set(${out} "${entries}" PARENT_SCOPE)
endfunction()

# Writes text to file, touching it only when it changed (spares a rebuild).
function(tv_write_if_changed file text)
  file(WRITE ${file}.new "${text}")
  configure_file(${file}.new ${file} COPYONLY)
endfunction()

# A Windows version resource (VERSIONINFO) for a shipped binary: the project's
# version, product name and copyright, and a description that tells the
# binary apart from others of the same file name (both plug-ins are
# BRAVIK32.dll). TYPE is DLL or APP.
function(tv_add_version_resource target)
  cmake_parse_arguments(V "" "DESCRIPTION;INTERNAL_NAME;FILE_NAME;TYPE" "" ${ARGN})
  set(TV_RC_DESCRIPTION "${V_DESCRIPTION}")
  set(TV_RC_INTERNAL_NAME "${V_INTERNAL_NAME}")
  set(TV_RC_FILE_NAME "${V_FILE_NAME}")
  set(TV_RC_FILE_TYPE "VFT_${V_TYPE}")
  set(TV_RC_VERSION_COMMAS
      "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},${TV_VERSION_BUILD}")
  set(TV_RC_VERSION_TEXT "${PROJECT_VERSION}")
  if(NOT TV_VERSION_BUILD EQUAL 0)
    string(APPEND TV_RC_VERSION_TEXT ".${TV_VERSION_BUILD}")
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
