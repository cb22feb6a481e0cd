# stress_unload: the long unload runs (the detach step 200 times at random
# moments of a search of thousands of HID devices, 20 times during a playback
# and a recording) and, with --real-dll, the built BRAVIK32.dll loaded, used
# and unloaded 20 times over Wine's ALSA null device. Not part of ./dev test;
# unload_test runs short versions.
if(TV_WIDTH EQUAL 64)
  add_executable(stress_unload ${CMAKE_CURRENT_LIST_DIR}/stress_unload.cpp
    ${PROJECT_SOURCE_DIR}/tests/unload_cycles.cpp)
  target_link_libraries(stress_unload PRIVATE sim_handset_hid sim_handset_audio)
  target_include_directories(stress_unload PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  tv_static_runtime(stress_unload)
  add_custom_command(TARGET stress_unload POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:BRAVIK32> $<TARGET_FILE_DIR:stress_unload>/BRAVIK32.dll)
  # ALSA's null device as the default PCM: with XDG_CONFIG_HOME pointing
  # here, Wine's winealsa driver lists one wave output and one wave input.
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/stress_alsa/alsa/asoundrc "pcm.!default {\n    type null\n}\n")
endif()
