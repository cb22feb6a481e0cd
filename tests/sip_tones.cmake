# The tone player (white-box over the agent's modules) and the tone files the
# build makes beside the plug-in, read by outside readers (Python's wave
# module and sox) and measured for their cadences.
tv_add_sip_test(sip_tones_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/sip_tones_test.cpp
  LIBS marenta_static)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME sip_tone_files
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/sip_tones_check.py
          ${PROJECT_BINARY_DIR}/sipagent/res)
set_tests_properties(sip_tone_files PROPERTIES TIMEOUT 60)
