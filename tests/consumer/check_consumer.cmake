# Installs the build in BUILD_DIR into WORK/prefix, then builds the project in this folder
# against it, which converts SAMPLES with kav::kavconv and builds its program with
# kav::formats, and runs the program on what it converted; then builds the same program with
# plain cc and pkg-config and runs that too.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "failed (${result}): ${command}")
  endif()
endfunction()

set(prefix ${WORK}/prefix)
set(build ${WORK}/build)
file(REMOVE_RECURSE ${WORK})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${build} -DCMAKE_PREFIX_PATH=${prefix}
    -DKAV_SAMPLES=${SAMPLES})
run(${CMAKE_COMMAND} --build ${build})
file(STRINGS ${build}/pairs.txt pairs)
run(${build}/consumer ${pairs})

run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/share/pkgconfig
    sh -c "cc $(pkg-config --cflags kav-formats) -o ${WORK}/plain ${CMAKE_CURRENT_LIST_DIR}/consumer.c")
run(${WORK}/plain ${pairs})
file(REMOVE_RECURSE ${WORK})
