# The SIP plug-in's tone files, made at build time into the "res" folder
# beside the plug-in (where it looks for them) and installed with it.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(TV_TONE_DIR ${PROJECT_BINARY_DIR}/sipagent/res)
set(TV_TONE_FILES)
foreach(tone DialTones Ringback Ringtone RemoteBusy)
  list(APPEND TV_TONE_FILES ${TV_TONE_DIR}/${tone}.wav)
endforeach()
add_custom_command(
  OUTPUT ${TV_TONE_FILES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TV_TONE_DIR}
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/make_tones.py ${TV_TONE_DIR}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/make_tones.py
  COMMENT "Call-progress tones into ${TV_TONE_DIR}")
add_custom_target(sip_tones ALL DEPENDS ${TV_TONE_FILES})
install(FILES ${TV_TONE_FILES} DESTINATION sip/res)
