# Suites of the SIP agent plug-in. They live in tests/sip/, beside copies of
# the simulated KIRO.dll and the plug-in (BRAVIK32.dll, a name the handset
# plug-in shares, hence a folder of their own), so that LoadLibraryA and the
# plug-in's load-time import of KIRO.dll both find them.
set(TV_SIP_TEST_DIR ${CMAKE_CURRENT_BINARY_DIR}/sip)
add_custom_target(sip_test_dlls)
tv_place_sip_runtime(sip_test_dlls ${TV_SIP_TEST_DIR})

function(tv_add_sip_test name)
  tv_add_gtest(${name} ${ARGN})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TV_SIP_TEST_DIR})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/sim/kiro
    ${PROJECT_SOURCE_DIR}/sipagent ${PROJECT_SOURCE_DIR}/include)
  add_dependencies(${name} sip_test_dlls)
endfunction()

set(TV_SIP_FIXTURE ${CMAKE_CURRENT_LIST_DIR}/sip_fixture.cpp)
# Black-box: the built plug-in loaded with LoadLibraryA, each test in a
# process of its own (the plug-in stays loaded once its library started).
set(TV_SIP_ISOLATED ${TV_SIP_FIXTURE} ${CMAKE_CURRENT_LIST_DIR}/sip_isolated_main.cpp)
tv_add_sip_test(sip_line_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/sip_line_test.cpp
  ${TV_SIP_ISOLATED})
tv_add_sip_test(sip_call_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/sip_call_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sip_call_end_test.cpp ${TV_SIP_ISOLATED})
tv_add_sip_test(sip_log_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/sip_log_test.cpp
  ${TV_SIP_ISOLATED} LIBS marenta_static)
# The 5 s waits running out, in a process of their own so they overlap others.
tv_add_sip_test(sip_timeout_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/sip_timeout_test.cpp
  ${TV_SIP_ISOLATED} TIMEOUT 180)
# White-box: the event tables, observers and waits, over the agent's own modules.
tv_add_sip_test(sip_events_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/sip_events_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sip_waits_test.cpp LIBS marenta_static)
# Black-box, one agent shared by all cases as a host shares it: the flows
# under each harsh mode of the simulated library, and with each library call
# failing in turn.
set(TV_SIP_SHARED ${TV_SIP_FIXTURE} ${CMAKE_CURRENT_LIST_DIR}/sip_shared_agent.cpp)
tv_add_sip_test(sip_harsh_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/sip_harsh_test.cpp
  ${TV_SIP_SHARED} TIMEOUT 300)
# Host threads racing each other and the far end, on a kind and a harsh library.
tv_add_sip_test(sip_concurrency_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/sip_concurrency_test.cpp
  ${TV_SIP_SHARED} TIMEOUT 300)
# The line and call suites again on a library that delivers from several
# threads at once and keeps sending events for lines and calls already gone
# (KIROSIM_MODE 9): their exact expectations hold there as well.
foreach(suite sip_line_test sip_call_test)
  add_test(NAME ${suite}_threads_stale COMMAND ${suite} --gtest_brief=1)
  set_tests_properties(${suite}_threads_stale PROPERTIES TIMEOUT 120
    ENVIRONMENT KIROSIM_MODE=9 WORKING_DIRECTORY ${TV_SIP_TEST_DIR})
endforeach()
