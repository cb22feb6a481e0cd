# tvconsole: the operator's host console, loading a plug-in DLL by path.
# tvdemo_handset: the same console linked with the handset plug-in's library
# and its emulated devices, for the scripted demo sessions.

# The console binds the handset plug-in's exports from the same list that
# makes the plug-in's .def files, so the two cannot drift apart.
tv_read_export_list(${PROJECT_SOURCE_DIR}/handset/core/exports.list tv_exports)
set(tv_slots "// Made from handset/core/exports.list at configure time.\n")
foreach(entry IN LISTS tv_exports)
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 name)
  list(GET fields 1 function)
  string(APPEND tv_slots "TV_HANDSET_SLOT(${function}, \"${name}\")\n")
endforeach()
set(TV_CONSOLE_GEN ${CMAKE_CURRENT_BINARY_DIR}/console_gen)
tv_write_if_changed(${TV_CONSOLE_GEN}/HandsetExportList.h "${tv_slots}")

add_library(tvconsole_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/console/Console.cpp
  ${CMAKE_CURRENT_LIST_DIR}/console/ConsoleBuiltins.cpp
  ${CMAKE_CURRENT_LIST_DIR}/console/ResultMeanings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/console/ScriptText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/console/KeyboardInput.cpp
  ${CMAKE_CURRENT_LIST_DIR}/console/PluginLoader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/console/HandsetCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/console/SipCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/console/SipSimCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/console/ImportTrace.cpp
  ${CMAKE_CURRENT_LIST_DIR}/console/WaveDeviceCommand.cpp)
target_include_directories(tvconsole_core PUBLIC
  ${CMAKE_CURRENT_LIST_DIR}/console ${TV_CONSOLE_GEN} ${PROJECT_SOURCE_DIR}/include
  ${PROJECT_SOURCE_DIR}/sim/kiro)
# The suites' stopwatch: the console's waits and timings by the
# performance counter, like theirs.
target_include_directories(tvconsole_core PRIVATE ${PROJECT_SOURCE_DIR}/tests)
# The wave device listing (wavedevices) uses the plug-in's own choice of
# the handset's device, handset_wave_name, over winmm.
target_link_libraries(tvconsole_core PUBLIC user32 version handset_wave_name winmm)
target_compile_definitions(tvconsole_core PUBLIC TV_VERSION_TEXT="${PROJECT_VERSION}")

add_executable(tvconsole ${CMAKE_CURRENT_LIST_DIR}/console/tvconsole.cpp)
target_link_libraries(tvconsole PRIVATE tvconsole_core)
tv_static_runtime(tvconsole)
tv_add_version_resource(tvconsole TYPE APP FILE_NAME tvconsole.exe INTERNAL_NAME tvconsole
  DESCRIPTION "tvconsole, host console for field checks of the BRAVIK32 plug-ins")
install(TARGETS tvconsole RUNTIME DESTINATION .)

if(TV_WIDTH EQUAL 64)
  add_executable(tvdemo_handset ${CMAKE_CURRENT_LIST_DIR}/console/tvdemo_handset.cpp)
  target_link_libraries(tvdemo_handset PRIVATE tvconsole_core bravik32_static sim_handset_hid
                        sim_handset_audio)
  tv_static_runtime(tvdemo_handset)
endif()
