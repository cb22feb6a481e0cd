# The library's detach step run again and again: at random moments of a
# search of thousands of HID devices, and during a playback and a recording.
# Short runs; tools/stress_unload runs the long ones. A folder of its own:
# the attach step logs beside the executable, and the runs remove the logs.
set(TV_UNLOAD_CYCLES ${CMAKE_CURRENT_LIST_DIR}/unload_cycles.cpp)
tv_add_gtest(unload_test SYSTEM_LISTS SOURCES ${CMAKE_CURRENT_LIST_DIR}/unload_test.cpp ${TV_UNLOAD_CYCLES}
             LIBS sim_handset_hid sim_handset_audio)
set_target_properties(unload_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/unload)

# The hang probe's library: the plug-in's attach and detach steps behind an
# entry point, loaded and unloaded by unload_test with a stalling wave table.
add_library(unload_probe SHARED ${CMAKE_CURRENT_LIST_DIR}/unload_probe_dll.cpp)
target_link_libraries(unload_probe PRIVATE bravik32_static)
set_target_properties(unload_probe PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/unload)
tv_static_runtime(unload_probe)
add_dependencies(unload_test unload_probe)
