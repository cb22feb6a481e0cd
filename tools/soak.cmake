# The soak programs (./dev soak): a compressed shift of each plug-in with the
# process's gauges read after a warm-up and at the end. The test run keeps a
# short shift of each, so the programs cannot rot.
if(TV_BUILD_TESTS)
  set(TV_SOAK_DIR ${CMAKE_CURRENT_LIST_DIR}/soak)
  add_library(soak_report STATIC ${TV_SOAK_DIR}/SoakReport.cpp ${TV_SOAK_DIR}/ModuleHeap.cpp)
  target_include_directories(soak_report PUBLIC ${TV_SOAK_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(soak_report PUBLIC psapi user32 tvconsole_core)

  # The handset plug-in's library with the emulated handset; its logs land
  # beside the program, in a folder of its own.
  add_executable(soak_handset ${TV_SOAK_DIR}/soak_handset.cpp ${TV_SOAK_DIR}/HandsetSoak.cpp
    ${TV_SOAK_DIR}/HandsetCall.cpp ${TV_SOAK_DIR}/HandsetCallChecks.cpp
    ${TV_SOAK_DIR}/HandsetHostThreads.cpp ${TV_SOAK_DIR}/HandsetLogCheck.cpp)
  target_link_libraries(soak_handset PRIVATE soak_report bravik32_static sim_handset_hid sim_handset_audio)
  set_target_properties(soak_handset PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/soak/handset)
  tv_static_runtime(soak_handset)
  add_test(NAME soak_short_handset
    COMMAND soak_handset --calls 24 --warm-up 9 --unplug-every 8 --reattach-every 12 --report-growth-only)
  set_tests_properties(soak_short_handset PROPERTIES TIMEOUT 300)
endif()

# The SIP plug-in as the host loads it, beside the simulated KIRO.dll and its
# tones, in a folder of its own (its log lands there too).
if(TV_BUILD_TESTS)
  set(TV_SOAK_SIP_DIR ${CMAKE_CURRENT_BINARY_DIR}/soak/sip)
  add_executable(soak_sip ${TV_SOAK_DIR}/soak_sip.cpp ${TV_SOAK_DIR}/SipSoak.cpp ${TV_SOAK_DIR}/SipLogCheck.cpp)
  target_include_directories(soak_sip PRIVATE ${PROJECT_SOURCE_DIR}/sim/kiro ${PROJECT_SOURCE_DIR}/sipagent
    ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/tools/console)
  target_link_libraries(soak_sip PRIVATE soak_report)
  set_target_properties(soak_sip PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TV_SOAK_SIP_DIR})
  tv_static_runtime(soak_sip)
  tv_place_sip_runtime(soak_sip ${TV_SOAK_SIP_DIR})
  add_custom_command(TARGET soak_sip POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_BINARY_DIR}/sipagent/res ${TV_SOAK_SIP_DIR}/res)
  add_dependencies(soak_sip sip_tones)
  add_test(NAME soak_short_sip
    COMMAND soak_sip --calls 30 --warm-up 10 --reregister-every 10 --report-growth-only)
  set_tests_properties(soak_short_sip PROPERTIES TIMEOUT 300)
endif()
