# The installable package (cmake --install, ./dev dist): both plug-ins, the
# SIP plug-in's tones, the host headers, the console and a deployment note
# for each plug-in. The 32-bit build checks the laid-out package.
install(FILES $<TARGET_FILE:BRAVIK32> DESTINATION handset)
install(FILES ${PROJECT_SOURCE_DIR}/include/bravik32.h ${PROJECT_SOURCE_DIR}/include/marenta.h
        DESTINATION include)
install(FILES ${PROJECT_SOURCE_DIR}/docs/DEPLOY-handset.txt ${PROJECT_SOURCE_DIR}/docs/DEPLOY-sip.txt
        DESTINATION .)
if(TV_WIDTH EQUAL 32)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME package_check
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/check_package.py
            ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${TV_OBJDUMP})
  set_tests_properties(package_check PROPERTIES TIMEOUT 120)
endif()
