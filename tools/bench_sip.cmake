# The SIP plug-in's benchmark: latency from the event that ends an export's
# wait to the export's return, and the host thread's CPU time in a wait that
# times out, each against the polling wait it replaced. It loads the plug-in
# from sip/ beside itself (BRAVIK32.dll is also the handset plug-in's name).
if(TV_BUILD_TESTS)
  add_executable(bench_sip ${CMAKE_CURRENT_LIST_DIR}/bench_sip.cpp)
  target_include_directories(bench_sip PRIVATE
    ${PROJECT_SOURCE_DIR}/sim/kiro ${PROJECT_SOURCE_DIR}/sipagent ${PROJECT_SOURCE_DIR}/include)
  tv_static_runtime(bench_sip)
  tv_place_sip_runtime(bench_sip ${CMAKE_CURRENT_BINARY_DIR}/sip)
endif()
