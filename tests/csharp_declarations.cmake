# The C# declarations of both plug-ins, compiled with mono's mcs and held
# against the export contracts (no Windows program runs).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME csharp_declarations
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/csharp_check.py ${PROJECT_SOURCE_DIR}
          ${CMAKE_CURRENT_BINARY_DIR}/csharp)
set_tests_properties(csharp_declarations PROPERTIES TIMEOUT 120)
