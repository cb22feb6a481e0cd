# The handset plug-in's diagnostic log (CLogReporter), white-box.
tv_add_gtest(log_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/log_test.cpp LIBS bravik32_static)
# The log writes beside the executable that loads it; a folder of its own
# keeps the log files of other suites (and of the loaded plug-in) out of the
# way of these cases, which count and delete "halvex_*" entries.
set_target_properties(log_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/log)
