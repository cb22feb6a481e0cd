# The handset's line decoder under fuzzing: the saved corpus is replayed
# through the same harness that ./dev fuzz builds natively with libFuzzer.
add_executable(line_fuzz_replay ${CMAKE_CURRENT_LIST_DIR}/line_fuzz_harness.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fuzz_replay_main.cpp)
target_link_libraries(line_fuzz_replay PRIVATE bravik32_static)
tv_static_runtime(line_fuzz_replay)
add_test(NAME line_fuzz_corpus_replay
  COMMAND line_fuzz_replay ${CMAKE_CURRENT_LIST_DIR}/line_fuzz_corpus)
set_tests_properties(line_fuzz_corpus_replay PROPERTIES TIMEOUT 60)
