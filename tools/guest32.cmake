# The checks that run only inside the 32-bit guest of ./dev test32.
if(TV_WIDTH EQUAL 32 AND TV_BUILD_TESTS)
  add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/guest32 ${CMAKE_CURRENT_BINARY_DIR}/guest32)
endif()
