# CPU cost of the idle handset link thread (run by ./dev bench).
if(TV_WIDTH EQUAL 64)
  add_executable(bench_idle ${CMAKE_CURRENT_LIST_DIR}/bench_idle.cpp)
  target_link_libraries(bench_idle PRIVATE sim_handset_hid)
  target_include_directories(bench_idle PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  tv_static_runtime(bench_idle)
endif()
