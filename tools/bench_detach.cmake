# The detach step's worst case: every worker stuck at once (run by ./dev bench).
if(TV_WIDTH EQUAL 64)
  add_executable(bench_detach ${CMAKE_CURRENT_LIST_DIR}/bench_detach.cpp)
  target_link_libraries(bench_detach PRIVATE sim_handset_hid sim_handset_audio ntdll)
  target_include_directories(bench_detach PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  tv_static_runtime(bench_detach)
endif()
