# The worker-thread base (CBaseThread) and the wave message thread.
tv_add_gtest(threads_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/threads_test.cpp LIBS bravik32_static ntdll)
