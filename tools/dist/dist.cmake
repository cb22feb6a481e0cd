# Makes the release from a 32-bit build folder (cmake -P, run by the `dist`
# target of the i686 build and by the package check):
#   OUT_DIR/NAME/            the package as a deployer unpacks it
#   OUT_DIR/NAME.zip         the same folder, zipped
#   OUT_DIR/NAME.zip.sha256  the zip's own checksum, to check a copy
#   OUT_DIR/NAME-symbols/    debug information of every shipped binary, in the
#                            package's layout (handset/BRAVIK32.dll.debug, ...)
# The shipped binaries are stripped; each keeps a .gnu_debuglink naming its
# debug file and that file's CRC, so a debugger given the symbols folder, or
# the .debug file copied beside the binary, finds the debug information.
# SHA256SUMS inside the package lists every other file of it.
#
# Code signing (Authenticode, with osslsigncode) when the environment names a
# certificate; unsigned otherwise:
#   TV_SIGN_PFX                a PKCS#12 file holding the certificate and key,
#   or TV_SIGN_CERT, TV_SIGN_KEY  the certificate (chain) and its key;
#   TV_SIGN_PASSWORD_FILE      a file holding the key's password (optional);
#   TV_SIGN_TIMESTAMP          a time-stamping server's URL (optional).
# Every shipped binary is signed after its debug link is in, since the
# signature covers the whole file; SHA256SUMS then lists the signed files.
#
# Variables: BUILD_DIR, OUT_DIR, NAME, OBJCOPY, STRIP.
foreach(var BUILD_DIR OUT_DIR NAME OBJCOPY STRIP)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "dist.cmake: ${var} is not set")
  endif()
endforeach()

set(package ${OUT_DIR}/${NAME})
set(symbols ${OUT_DIR}/${NAME}-symbols)
set(zip ${OUT_DIR}/${NAME}.zip)
file(REMOVE_RECURSE ${package} ${symbols})
file(REMOVE ${zip} ${zip}.sha256)
file(MAKE_DIRECTORY ${OUT_DIR})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_QUIET)
  if(failed)
    list(JOIN ARGN " " shown)
    message(FATAL_ERROR "dist.cmake: failed (${failed}): ${shown}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${package})

# Debug information out, then the link to it in: objcopy writes the CRC of
# the debug file as it is at that moment, so the order matters.
file(GLOB_RECURSE binaries RELATIVE ${package} ${package}/*.dll ${package}/*.exe)
list(SORT binaries)
foreach(binary IN LISTS binaries)
  get_filename_component(folder ${symbols}/${binary} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  run(${OBJCOPY} --only-keep-debug ${package}/${binary} ${symbols}/${binary}.debug)
  run(${STRIP} --strip-all ${package}/${binary})
  run(${OBJCOPY} --add-gnu-debuglink=${symbols}/${binary}.debug ${package}/${binary})
endforeach()

set(sign_with "")
if(DEFINED ENV{TV_SIGN_PFX} AND NOT "$ENV{TV_SIGN_PFX}" STREQUAL "")
  set(sign_with -pkcs12 $ENV{TV_SIGN_PFX})
elseif(DEFINED ENV{TV_SIGN_CERT} AND NOT "$ENV{TV_SIGN_CERT}" STREQUAL "")
  set(sign_with -certs $ENV{TV_SIGN_CERT} -key $ENV{TV_SIGN_KEY})
endif()
if(sign_with)
  find_program(OSSLSIGNCODE osslsigncode)
  if(NOT OSSLSIGNCODE)
    message(FATAL_ERROR "dist.cmake: a certificate is given but osslsigncode is not installed")
  endif()
  if(DEFINED ENV{TV_SIGN_PASSWORD_FILE} AND NOT "$ENV{TV_SIGN_PASSWORD_FILE}" STREQUAL "")
    list(APPEND sign_with -readpass $ENV{TV_SIGN_PASSWORD_FILE})
  endif()
  if(DEFINED ENV{TV_SIGN_TIMESTAMP} AND NOT "$ENV{TV_SIGN_TIMESTAMP}" STREQUAL "")
    list(APPEND sign_with -ts $ENV{TV_SIGN_TIMESTAMP})
  endif()
  foreach(binary IN LISTS binaries)
    run(${OSSLSIGNCODE} sign ${sign_with} -h sha256 -n "BRAVIK32 telephony plug-ins ${NAME}"
        -in ${package}/${binary} -out ${package}/${binary}.signed)
    file(RENAME ${package}/${binary}.signed ${package}/${binary})
  endforeach()
  message(STATUS "signed: ${binaries}")
endif()

file(GLOB_RECURSE files RELATIVE ${package} ${package}/*)
list(SORT files)
set(sums "")
foreach(path IN LISTS files)
  file(SHA256 ${package}/${path} hash)
  string(APPEND sums "${hash}  ${path}\n")
endforeach()
file(WRITE ${package}/SHA256SUMS "${sums}")

# Entries under NAME/, so that unpacking gives one folder named by the version.
run(${CMAKE_COMMAND} -E chdir ${OUT_DIR} ${CMAKE_COMMAND} -E tar cf ${NAME}.zip --format=zip ${NAME})
file(SHA256 ${zip} hash)
file(WRITE ${zip}.sha256 "${hash}  ${NAME}.zip\n")
message(STATUS "package: ${zip}")
message(STATUS "symbols: ${symbols}")
