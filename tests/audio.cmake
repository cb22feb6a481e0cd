# The handset's wave devices against the emulated audio device.
tv_add_gtest(audio_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/audio_support.cpp
          ${CMAKE_CURRENT_LIST_DIR}/audio_search_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/audio_input_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/audio_output_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/audio_thread_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/audio_console_test.cpp
  LIBS bravik32_static sim_handset_audio tvconsole_core ntdll)
