# Throughput of the handset plug-in's diagnostic log against a plain stream.
add_executable(bench_log ${CMAKE_CURRENT_LIST_DIR}/bench_log.cpp)
target_link_libraries(bench_log PRIVATE bravik32_static)
tv_static_runtime(bench_log)
