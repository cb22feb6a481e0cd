# The wire SIP library: a KIRO.dll of our own over libre, for the wire suites
# (tests/sip_wire.cmake). libre is fetched from Debian's archive and built by
# ./dev (tools/wire/libre.sh) into build/libre/<width>, for x86_64 only;
# without it (the i686 tree, or a tree configured by hand before ./dev ran)
# this library and its suites are left out.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(tv_libre_width i686)
else()
  set(tv_libre_width x86_64)
endif()
set(TV_LIBRE_DIR ${PROJECT_SOURCE_DIR}/build/libre/${tv_libre_width} CACHE PATH
  "libre built for this width (libre.a and include/), made by ./dev")
if(EXISTS ${TV_LIBRE_DIR}/libre.a)
  file(GLOB tv_kiro_wire_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/kirowire/*.cpp)
  add_library(kiro_wire SHARED ${tv_kiro_wire_sources} ${CMAKE_CURRENT_LIST_DIR}/kirowire/KIRO_wire.def)
  # Named as the vendor's library, in a folder of its own (the simulated
  # library has the same name).
  set_target_properties(kiro_wire PROPERTIES OUTPUT_NAME KIRO PREFIX ""
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/sim/wire ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/sim/wire)
  # The definitions libre was built with that shape its headers' types.
  target_compile_definitions(kiro_wire PRIVATE WIN32 HAVE_INET6 HAVE_STDBOOL_H HAVE_INTTYPES_H
    __ssize_t_defined)
  target_include_directories(kiro_wire PRIVATE ${CMAKE_CURRENT_LIST_DIR}/kirowire
    ${PROJECT_SOURCE_DIR}/sipagent)
  target_include_directories(kiro_wire SYSTEM PRIVATE ${TV_LIBRE_DIR}/include)
  target_link_libraries(kiro_wire PRIVATE ${TV_LIBRE_DIR}/libre.a ws2_32 iphlpapi wsock32)
  tv_static_runtime(kiro_wire)
endif()
