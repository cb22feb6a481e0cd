# The installable package (cmake --install; ./dev dist makes the release zip
# from it with tools/dist/dist.cmake): both plug-ins, the SIP plug-in's tones, the
# host headers, the console with its sample scripts, the deployment notes,
# the change log and the licences of what is linked in. The 32-bit build
# makes the release into a scratch folder and checks it, unsigned and signed.
install(FILES $<TARGET_FILE:BRAVIK32> DESTINATION handset)
install(FILES ${PROJECT_SOURCE_DIR}/include/bravik32.h ${PROJECT_SOURCE_DIR}/include/marenta.h
              ${PROJECT_SOURCE_DIR}/include/bravik32.cs ${PROJECT_SOURCE_DIR}/include/marenta.cs
        DESTINATION include)
file(GLOB TV_PACKAGE_DOCS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.txt)
install(FILES ${TV_PACKAGE_DOCS} ${PROJECT_SOURCE_DIR}/CHANGELOG.txt ${PROJECT_SOURCE_DIR}/NOTICE.txt
        DESTINATION .)
file(GLOB TV_SAMPLE_SCRIPTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/console/samples/*.tvs)
install(FILES ${TV_SAMPLE_SCRIPTS} DESTINATION samples)

if(TV_WIDTH EQUAL 32)
  set(TV_DIST_NAME tvplugins-${PROJECT_VERSION}-win32)
  set(TV_DIST_ARGS -DBUILD_DIR=${CMAKE_BINARY_DIR} -DNAME=${TV_DIST_NAME}
      -DOBJCOPY=${CMAKE_OBJCOPY} -DSTRIP=${CMAKE_STRIP} -P ${CMAKE_CURRENT_LIST_DIR}/dist/dist.cmake)
  set(TV_DIST_DIR ${CMAKE_BINARY_DIR}/dist CACHE PATH "Where the dist target puts the release")
  add_custom_target(dist
    COMMAND ${CMAKE_COMMAND} -DOUT_DIR=${TV_DIST_DIR} ${TV_DIST_ARGS}
    DEPENDS BRAVIK32 marenta tvconsole sample_host
    COMMENT "Release ${TV_DIST_NAME}" VERBATIM)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME package_check
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/check_package.py
            --source ${PROJECT_SOURCE_DIR} --objdump ${TV_OBJDUMP} --version ${PROJECT_VERSION}
            --name ${TV_DIST_NAME} -- ${CMAKE_COMMAND} ${TV_DIST_ARGS})
  set_tests_properties(package_check PROPERTIES TIMEOUT 180)
  # The same release signed with a certificate the check makes for itself.
  add_test(NAME package_check_signed
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/check_package.py
            --source ${PROJECT_SOURCE_DIR} --objdump ${TV_OBJDUMP} --version ${PROJECT_VERSION}
            --name ${TV_DIST_NAME} --sign-throwaway -- ${CMAKE_COMMAND} ${TV_DIST_ARGS})
  set_tests_properties(package_check_signed PROPERTIES TIMEOUT 180)
endif()
