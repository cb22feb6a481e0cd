# Benchmark of the WAV writer's header upkeep (run by ./dev bench).
if(TV_WIDTH EQUAL 64)
  add_executable(bench_wav ${CMAKE_CURRENT_LIST_DIR}/bench_wav.cpp)
  target_link_libraries(bench_wav PRIVATE bravik32_static)
  tv_static_runtime(bench_wav)
endif()
