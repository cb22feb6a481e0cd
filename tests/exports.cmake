# The control exports. Black-box: the built BRAVIK32.dll loaded from the
# test's own folder (where its log appears too, away from other suites).
tv_add_gtest(exports_dll_test SYSTEM_LISTS SOURCES ${CMAKE_CURRENT_LIST_DIR}/exports_dll_test.cpp LIBS user32)
target_include_directories(exports_dll_test PRIVATE ${PROJECT_SOURCE_DIR}/include)
set(TV_PLUGIN_TEST_DIR ${CMAKE_CURRENT_BINARY_DIR}/plugin)
set_target_properties(exports_dll_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TV_PLUGIN_TEST_DIR})
tv_copy_plugin_for(exports_dll_test ${TV_PLUGIN_TEST_DIR})

# White-box: the exports drive the plug-in's own handset link over the
# emulated desk.
tv_add_gtest(exports_handset_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/exports_handset_test.cpp ${CMAKE_CURRENT_LIST_DIR}/link_support.cpp
  LIBS sim_handset_hid)
