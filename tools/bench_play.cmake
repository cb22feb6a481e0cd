# Benchmark of file playback and recording through the emulated audio device
# (run by ./dev bench).
if(TV_WIDTH EQUAL 64)
  add_executable(bench_play ${CMAKE_CURRENT_LIST_DIR}/bench_play.cpp)
  target_link_libraries(bench_play PRIVATE bravik32_static sim_handset_audio)
  target_include_directories(bench_play PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  tv_static_runtime(bench_play)
endif()
