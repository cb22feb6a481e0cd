# The emulated handset, audio side: a desk's wave devices with the handset's,
# put into the wave device module's function table by tests and the demo host.
add_library(sim_handset_audio STATIC
  ${CMAKE_CURRENT_LIST_DIR}/audio/EmulatedWave.cpp
  ${CMAKE_CURRENT_LIST_DIR}/audio/EmulatedWaveDesk.cpp
  ${CMAKE_CURRENT_LIST_DIR}/audio/EmulatedWaveSound.cpp
  ${CMAKE_CURRENT_LIST_DIR}/audio/EmulatedWaveTable.cpp)
target_include_directories(sim_handset_audio PUBLIC ${CMAKE_CURRENT_LIST_DIR})
# Unplugging the emulated handset takes its audio device too.
target_link_libraries(sim_handset_audio PUBLIC bravik32_static sim_handset_hid)
