# stress_unload: the long unload runs (the detach step 200 times at random
# moments of a search of thousands of HID devices, 20 times during a playback
# and a recording) and, with --real-dll, the built BRAVIK32.dll loaded, used
# and unloaded 20 times over Wine's ALSA null device. Not part of ./dev test;
# unload_test runs short versions. The i686 test folder builds it too, for
# the 32-bit guest of ./dev test32 (below).
if(TV_WIDTH EQUAL 64 OR TV_TESTS_32)
  add_executable(stress_unload ${CMAKE_CURRENT_LIST_DIR}/stress_unload.cpp
    ${PROJECT_SOURCE_DIR}/tests/unload_cycles.cpp)
  target_link_libraries(stress_unload PRIVATE sim_handset_hid sim_handset_audio)
  target_include_directories(stress_unload PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  tv_static_runtime(stress_unload)
  tv_copy_plugin_for(stress_unload ${CMAKE_CURRENT_BINARY_DIR})
  # ALSA's null device as the default PCM: with XDG_CONFIG_HOME pointing
  # here, Wine's winealsa driver lists one wave output and one wave input.
  set(TV_STRESS_ALSA ${CMAKE_CURRENT_BINARY_DIR}/stress_alsa)
  file(WRITE ${TV_STRESS_ALSA}/alsa/asoundrc "pcm.!default {\n    type null\n}\n")
endif()

# In the 32-bit guest, short runs: the plug-in's 32-bit image must leave no
# thread and no handle behind either, and --real-dll loads the shipped DLL
# (./dev test32 puts it in place of the copy above). On x86_64 they stay out
# of ./dev test, which unload_test covers in less time.
if(TV_WIDTH EQUAL 32 AND TV_TESTS_32)
  add_test(NAME stress_unload COMMAND stress_unload 20)
  add_test(NAME stress_unload_real_dll COMMAND stress_unload --real-dll 5)
  set_tests_properties(stress_unload stress_unload_real_dll PROPERTIES TIMEOUT 120
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(stress_unload_real_dll PROPERTIES ENVIRONMENT XDG_CONFIG_HOME=${TV_STRESS_ALSA})
endif()
