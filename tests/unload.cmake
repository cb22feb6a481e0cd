# The library's detach step run again and again: at random moments of a
# search of thousands of HID devices, and during a playback and a recording.
# Short runs; tools/stress_unload runs the long ones. A folder of its own:
# the attach step logs beside the executable, and the runs remove the logs.
set(TV_UNLOAD_CYCLES ${CMAKE_CURRENT_LIST_DIR}/unload_cycles.cpp)
tv_add_gtest(unload_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/unload_test.cpp ${TV_UNLOAD_CYCLES}
             LIBS sim_handset_hid sim_handset_audio)
set_target_properties(unload_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/unload)
