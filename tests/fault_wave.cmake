# The fault campaign over the wave API seam, against the emulated audio device.
tv_add_gtest(fault_wave_test TIMEOUT 300
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/audio_support.cpp ${CMAKE_CURRENT_LIST_DIR}/file_audio_support.cpp
          ${CMAKE_CURRENT_LIST_DIR}/link_support.cpp ${CMAKE_CURRENT_LIST_DIR}/fault_wave_test.cpp
  LIBS sim_handset_audio sim_fault)
