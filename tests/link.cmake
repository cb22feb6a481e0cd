# The handset link: the digit queue alone, then the link over the emulated
# desk (frames, event lines, device search, the link thread's life).
set(TV_LINK_SUPPORT ${CMAKE_CURRENT_LIST_DIR}/link_support.cpp)
tv_add_gtest(link_queue_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/link_queue_test.cpp
             LIBS bravik32_static)
foreach(suite frames decoding search thread)
  tv_add_gtest(link_${suite}_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/link_${suite}_test.cpp ${TV_LINK_SUPPORT}
    LIBS sim_handset_hid)
endforeach()
