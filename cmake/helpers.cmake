# Small helpers shared by every folder's CMakeLists.

# A Windows program or test that carries its runtime inside.
function(tv_static_runtime target)
  target_link_options(${target} PRIVATE ${TV_STATIC_RUNTIME})
endfunction()

# Product code (handset/, sipagent/) builds without a warning: any is an
# error there. Tests, tools and stand-ins keep warnings as warnings.
function(tv_product_code)
  foreach(target ${ARGN})
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-Werror>)
  endforeach()
endfunction()

# One CTest test per GoogleTest executable: Wine start-up per process is the
# dominant cost, so the cases of a suite share one process. Every test gets a
# timeout so that a hang fails instead of stalling the run.
# A copy of the handset plug-in in dir for target to load, made again
# whenever the plug-in is rebuilt (./dev test32 finds such copies by their
# bytes to put the shipped DLL in their place).
function(tv_copy_plugin_for target dir)
  add_custom_command(OUTPUT ${dir}/BRAVIK32.dll
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:BRAVIK32> ${dir}/BRAVIK32.dll
    DEPENDS BRAVIK32)
  add_custom_target(${target}_plugin ALL DEPENDS ${dir}/BRAVIK32.dll)
  add_dependencies(${target} ${target}_plugin)
endfunction()

# SYSTEM_LISTS: the suite reads Wine's system-wide thread or handle lists
# (tests/process_threads.h), so it runs with no other test beside it.
function(tv_add_gtest name)
  cmake_parse_arguments(T "SYSTEM_LISTS" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
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
  if(T_SYSTEM_LISTS)
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
  endif()
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

# Reads an export list (handset/core/exports.list, sipagent/exports.list):
# one "exported-name calling" pair a line, where calling is the number of
# argument bytes a __stdcall function pops or the word cdecl. Sets OUT to a
# list of "name;function;calling" triples flattened as name|function|calling,
# where function is the C name behind a decorated export (_CT_RingOn@0 ->
# CT_RingOn, ?CT_GetStatus@@YGHXZ -> CT_GetStatus). Whoever reads the list
# reconfigures when it changes.
function(tv_read_export_list list_file out)
  file(STRINGS ${list_file} lines REGEX "^[^#]")
  set(entries)
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "^([^ \t]+)[ \t]+([0-9]+|cdecl)")
      continue()
    endif()
    set(name ${CMAKE_MATCH_1})
    set(calling ${CMAKE_MATCH_2})
    set(function ${name})
    if(name MATCHES "^_(.+)@[0-9]+$")
      set(function ${CMAKE_MATCH_1})
    elseif(name MATCHES "^\\?([A-Za-z0-9_]+)@@")
      set(function ${CMAKE_MATCH_1})
    endif()
    list(APPEND entries "${name}|${function}|${calling}")
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list_file})
  set(${out} "${entries}" PARENT_SCOPE)
endfunction()

# The .def file of a plug-in DLL for this width, from its export list: both
# plug-ins get their export tables this way. A __cdecl export is its plain
# name in both widths. On i686 a __stdcall export maps to its decorated
# symbol (CT_Bell=CT_Bell@4, _CT_RingOn@0=CT_RingOn@0); x86_64 has no
# decoration, so the same names map to the plain symbols.
function(tv_write_def list_file library def_file)
  tv_read_export_list(${list_file} entries)
  set(def "LIBRARY ${library}\nEXPORTS\n")
  foreach(entry IN LISTS entries)
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 0 name)
    list(GET fields 1 symbol)
    list(GET fields 2 calling)
    if(calling STREQUAL "cdecl")
      string(APPEND def "  ${name}\n")
    elseif(TV_WIDTH EQUAL 32)
      string(APPEND def "  ${name}=${symbol}@${calling}\n")
    elseif(name STREQUAL symbol)
      string(APPEND def "  ${name}\n")
    else()
      string(APPEND def "  ${name}=${symbol}\n")
    endif()
  endforeach()
  # Written as is (the decorated names hold @...@, which configuring would
  # take for variables).
  tv_write_if_changed(${def_file} "${def}")
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
