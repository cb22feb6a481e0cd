# The emulated handset, HID side: a desk's HID devices with the handset, put
# into the handset link's function table by tests and the demo host.
add_library(sim_handset_hid STATIC
  ${CMAKE_CURRENT_LIST_DIR}/hid/EmulatedHid.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hid/EmulatedHidRead.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hid/EmulatedHidSetup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hid/EmulatedHidTable.cpp)
target_include_directories(sim_handset_hid PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(sim_handset_hid PUBLIC bravik32_static ntdll)
