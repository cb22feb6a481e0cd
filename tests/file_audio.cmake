# File playback and recording against the emulated audio device. Outside
# tools make the prompts before the suite (fixture file_audio_prompts);
# outside readers check the recordings the suite leaves (fixture
# file_audio_recordings), with the WAV suite's checker.
set(TV_FILE_AUDIO_DATA ${CMAKE_CURRENT_BINARY_DIR}/file_audio_data)

add_test(NAME file_audio_make_prompts
  COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/file_audio_make_files.sh ${TV_FILE_AUDIO_DATA})
set_tests_properties(file_audio_make_prompts PROPERTIES
  FIXTURES_SETUP file_audio_prompts TIMEOUT 60)

set(TV_FILE_AUDIO_SUPPORT ${CMAKE_CURRENT_LIST_DIR}/audio_support.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_audio_support.cpp)

tv_add_gtest(file_audio_test
  SOURCES ${TV_FILE_AUDIO_SUPPORT}
          ${CMAKE_CURRENT_LIST_DIR}/file_playback_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/file_recording_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/file_duplex_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/file_threads_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/file_unload_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/file_unplug_test.cpp
  LIBS bravik32_static sim_handset_audio)
set_tests_properties(file_audio_test PROPERTIES
  FIXTURES_REQUIRED file_audio_prompts FIXTURES_SETUP file_audio_recordings)

# The six exports over the emulated handset and the emulated audio device.
tv_add_gtest(file_exports_test
  SOURCES ${TV_FILE_AUDIO_SUPPORT} ${CMAKE_CURRENT_LIST_DIR}/link_support.cpp
          ${CMAKE_CURRENT_LIST_DIR}/file_exports_test.cpp
  LIBS sim_handset_hid sim_handset_audio)

find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME file_audio_recordings_read_by_outside_tools
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/wav_check_written.py ${TV_FILE_AUDIO_DATA}/ours)
set_tests_properties(file_audio_recordings_read_by_outside_tools PROPERTIES
  FIXTURES_REQUIRED file_audio_recordings TIMEOUT 60)

# The writer and the recording exports onto a full disk: a tmpfs mapped as a
# drive (needs root to mount; skipped, code 77, without).
add_test(NAME file_recording_full_disk
  COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/file_recording_full_disk.sh ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh
          ${PROJECT_SOURCE_DIR}/build/wineprefix $<TARGET_FILE:wav_test> $<TARGET_FILE:file_exports_test>)
# It runs both programs again: never beside their own runs, which would
# share (and clear) the log files named after the program.
set_tests_properties(file_recording_full_disk PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77
  RESOURCE_LOCK "wav_test;file_exports_test")
set_tests_properties(file_exports_test PROPERTIES RESOURCE_LOCK file_exports_test)
