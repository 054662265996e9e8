# Installs the project from BUILD_DIR into PREFIX, then configures, builds and
# runs the consumer project against that installation.
#   cmake -DBUILD_DIR=... -DPREFIX=... -DCONSUMER_SOURCE=... -DCONSUMER_BINARY=...
#         -DGENERATOR=... -DCOMPILER=... [-DLINK_FLAGS=...]
#         [-DTOOLCHAIN=... -DEMULATOR=... -DEXE_SUFFIX=...] -P check_package.cmake
# The consumer is built with the project's own compiler, so that sanitized
# libraries meet the runtime they were built for; a cross build's consumer
# with the same toolchain file, and run through its emulator.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                  ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}")
  endif()
  message(STATUS "${out}")
endfunction()

file(REMOVE_RECURSE ${PREFIX} ${CONSUMER_BINARY})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX})
if(TOOLCHAIN)
  # The toolchain file's own linker flags stay (the runtime linked in).
  set(options -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
else()
  set(options "-DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS}")
endif()
run(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${CONSUMER_BINARY} -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${PREFIX} -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_CXX_COMPILER=${COMPILER} ${options})
run(${CMAKE_COMMAND} --build ${CONSUMER_BINARY})
run(${EMULATOR} ${CONSUMER_BINARY}/consumer${EXE_SUFFIX})
