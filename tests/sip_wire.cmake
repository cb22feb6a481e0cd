# The SIP plug-in over the wire: the wire KIRO.dll (sim/kirowire.cmake)
# against kamailio and SIPp on loopback, run by tests/wire/sip_wire.py, which
# starts and stops the services around each case. Only where libre was built.
if(TARGET kiro_wire)
  set(TV_SIP_WIRE_DIR ${CMAKE_CURRENT_BINARY_DIR}/sip_wire)
  add_executable(sip_wire_test ${CMAKE_CURRENT_LIST_DIR}/sip_wire_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sip_wire_fixture.cpp ${CMAKE_CURRENT_LIST_DIR}/sip_wire_soak.cpp)
  target_link_libraries(sip_wire_test PRIVATE marenta_static soak_report gtest gtest_main)
  target_include_directories(sip_wire_test PRIVATE ${PROJECT_SOURCE_DIR}/sipagent)
  tv_static_runtime(sip_wire_test)
  set_target_properties(sip_wire_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${TV_SIP_WIRE_DIR})
  # The plug-in's load-time import of KIRO.dll finds the wire library here.
  add_custom_command(OUTPUT ${TV_SIP_WIRE_DIR}/KIRO.dll
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TV_SIP_WIRE_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:kiro_wire> ${TV_SIP_WIRE_DIR}/KIRO.dll
    DEPENDS kiro_wire
    COMMENT "The wire KIRO.dll beside sip_wire_test")
  add_custom_target(sip_wire_kiro DEPENDS ${TV_SIP_WIRE_DIR}/KIRO.dll)
  add_dependencies(sip_wire_test sip_wire_kiro)
  find_package(Python3 COMPONENTS Interpreter REQUIRED)
  add_test(NAME sip_wire_test COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/wire/sip_wire.py
    ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh $<TARGET_FILE:sip_wire_test>)
  set_tests_properties(sip_wire_test PROPERTIES TIMEOUT 360)
  # A short shift of the wire soak, so that it cannot rot (./dev soak runs 200).
  add_test(NAME sip_wire_soak_short COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/wire/sip_wire.py
    ${PROJECT_SOURCE_DIR}/cmake/wine-run.sh $<TARGET_FILE:sip_wire_test> --soak 12 --report-growth-only)
  set_tests_properties(sip_wire_soak_short PROPERTIES TIMEOUT 240)
endif()
