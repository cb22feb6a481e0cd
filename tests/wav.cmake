# WAV reader and writer. Outside tools make the reader's sample files before
# the suite (fixture wav_outside_files); outside readers check the writer's
# files after it (fixture wav_written_files). The fuzz corpus is replayed
# through the reader by the same harness that ./dev fuzz builds natively.
set(TV_WAV_DATA ${CMAKE_CURRENT_BINARY_DIR}/wav_data)

add_test(NAME wav_make_outside_files
  COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/wav_make_files.sh ${TV_WAV_DATA})
set_tests_properties(wav_make_outside_files PROPERTIES
  FIXTURES_SETUP wav_outside_files TIMEOUT 60)

tv_add_gtest(wav_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/wav_reader_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/wav_writer_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/wav_object_test.cpp
  LIBS bravik32_static)
set_tests_properties(wav_test PROPERTIES
  FIXTURES_REQUIRED wav_outside_files FIXTURES_SETUP wav_written_files RESOURCE_LOCK wav_test)

find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME wav_written_read_by_outside_tools
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/wav_check_written.py ${TV_WAV_DATA}/ours)
set_tests_properties(wav_written_read_by_outside_tools PROPERTIES
  FIXTURES_REQUIRED wav_written_files TIMEOUT 60)

tv_add_fuzz_replay(wav bravik32_static)
