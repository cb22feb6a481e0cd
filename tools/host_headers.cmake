# The host headers as a host uses them: both in one C file and one C++ file,
# without prototypes, every export bound with the documented cast, compiled in
# both widths with every warning an error. A header change that breaks the
# promise (a clash between the two, a cast that warns) breaks the build.
add_library(host_headers_check OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/host_headers/both_plugins.c
  ${CMAKE_CURRENT_LIST_DIR}/host_headers/both_plugins.cpp)
target_include_directories(host_headers_check PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_compile_options(host_headers_check PRIVATE -Wall -Wextra -Wcast-function-type -Werror)
