# The host console and the demo host in scripted sessions against the
# x86_64 plug-ins, their transcripts checked line by line; the shipped sample
# scripts run as they stand.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME console_transcripts
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/console_transcripts.py
          ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh ${PROJECT_SOURCE_DIR})
set_tests_properties(console_transcripts PROPERTIES TIMEOUT 240)
