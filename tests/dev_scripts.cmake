# The scripts around the suites: ./dev's help, and cmake/wine-run.sh, which
# runs every Windows test program (checked with stand-ins for Wine, so that a
# dead server can be staged without stopping the suites' own).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME dev_help_lists_every_command
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/dev_help_check.py ${PROJECT_SOURCE_DIR}/dev)
add_test(NAME wine_run_streams_and_sees_a_dead_server
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/wine_run_check.py ${PROJECT_SOURCE_DIR})
set_tests_properties(dev_help_lists_every_command wine_run_streams_and_sees_a_dead_server PROPERTIES TIMEOUT 120)

# Debian's clang-tidy over the product code (checks in .clang-tidy); ./dev
# installs it. Slow (about a minute a core), so it runs beside the suites.
find_program(TV_CLANG_TIDY NAMES clang-tidy clang-tidy-14)
if(NOT TV_CLANG_TIDY)
  set(TV_CLANG_TIDY clang-tidy)
endif()
add_test(NAME product_code_clang_tidy
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/clang_tidy_check.py ${CMAKE_BINARY_DIR}
          ${PROJECT_SOURCE_DIR} ${CMAKE_CXX_COMPILER} ${TV_CLANG_TIDY})
set_tests_properties(product_code_clang_tidy PROPERTIES TIMEOUT 900)
