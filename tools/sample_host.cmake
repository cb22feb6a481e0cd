# The sample host in C that the package ships in samples\ (source and a
# 32-bit build): the headers used as they tell host developers to use them.
# Built with every warning an error, so that it keeps compiling cleanly for
# the developers who copy it; console_transcripts runs the x86_64 build
# against both plug-ins.
add_executable(sample_host ${CMAKE_CURRENT_LIST_DIR}/sample_host/sample_host.c)
target_include_directories(sample_host PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(sample_host PRIVATE user32 version)
target_compile_options(sample_host PRIVATE -Wall -Wextra -Werror)
tv_static_runtime(sample_host)
tv_add_version_resource(sample_host TYPE APP FILE_NAME sample_host.exe INTERNAL_NAME sample_host
  DESCRIPTION "sample_host, a sample host in C for the BRAVIK32 plug-ins")
install(TARGETS sample_host RUNTIME DESTINATION samples)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/sample_host/sample_host.c DESTINATION samples)
