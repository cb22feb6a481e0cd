# Fault plans for the campaigns over the platform seams: wrappers in front of
# an installed seam table fail a chosen function on a chosen call.
add_library(sim_fault STATIC ${CMAKE_CURRENT_LIST_DIR}/fault/FaultPlan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fault/HidFaults.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fault/WaveFaults.cpp)
target_include_directories(sim_fault PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(sim_fault PUBLIC bravik32_static)
