# The fault campaign over the HID/SetupAPI seam: every function of the HID
# table failing in every scenario that calls it, over the emulated desk.
tv_add_gtest(fault_hid_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fault_hid_test.cpp ${CMAKE_CURRENT_LIST_DIR}/link_support.cpp
  LIBS sim_fault sim_handset_hid)
