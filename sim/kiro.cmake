# The simulated SIP library, built as a real KIRO.dll for both widths so the
# agent plug-in loads beside it exactly as beside the vendor's library.
add_library(kiro_sim SHARED
  ${CMAKE_CURRENT_LIST_DIR}/kiro/KiroSimCore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/kiro/KiroSimDelivery.cpp
  ${CMAKE_CURRENT_LIST_DIR}/kiro/KiroFunctions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/kiro/KiroControls.cpp
  ${CMAKE_CURRENT_LIST_DIR}/kiro/KIRO_sim.def)
set_target_properties(kiro_sim PROPERTIES OUTPUT_NAME KIRO PREFIX "")
target_include_directories(kiro_sim PUBLIC
  ${CMAKE_CURRENT_LIST_DIR}/kiro ${PROJECT_SOURCE_DIR}/sipagent)
# The suites' stopwatch bounds the simulation's waits by the performance
# counter.
target_include_directories(kiro_sim PRIVATE ${PROJECT_SOURCE_DIR}/tests)
tv_static_runtime(kiro_sim)
