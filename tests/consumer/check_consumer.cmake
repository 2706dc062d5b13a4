# Installs the build in BUILD_DIR into WORK/prefix, then builds the project in this folder
# against it, which converts copies of SAMPLES (sprite.bmp and wide.bmp also as ui/pic.bmp and
# fonts/pic.bmp) with kav_add_assets() and builds its program
# with kav::formats, and runs the program on what it converted; builds again and checks that
# nothing is converted; touches a GIF of two frames, then a picture, and checks that only it is
# converted again; then builds the same program with plain cc and pkg-config
# and runs that too.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "failed (${result}): ${command}\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

# Touches FILE past the file times' resolution, builds, and checks that the build converted
# what EXPECTED lists, in any order.
function(expect_rebuild file expected)
  execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 1.1)
  file(TOUCH ${file})
  run(${CMAKE_COMMAND} --build ${build})
  string(REGEX MATCHALL "Converting [^ ]+" converted "${output}")
  list(SORT converted)
  if(NOT converted STREQUAL "${expected}")
    message(FATAL_ERROR "touching ${file} converted: ${converted}\n${output}")
  endif()
endfunction()

set(prefix ${WORK}/prefix)
set(build ${WORK}/build)
file(REMOVE_RECURSE ${WORK})
file(COPY ${SAMPLES}/sprite.bmp ${SAMPLES}/wide.bmp DESTINATION ${WORK}/pictures)
configure_file(${SAMPLES}/sprite.bmp ${WORK}/pictures/ui/pic.bmp COPYONLY)
configure_file(${SAMPLES}/wide.bmp ${WORK}/pictures/fonts/pic.bmp COPYONLY)
file(WRITE ${WORK}/pictures/game.hex "000000\nffffff\nff0000\n")
configure_file(${CMAKE_CURRENT_LIST_DIR}/../data/gif/gif87a.gif ${WORK}/pictures/anim.gif COPYONLY)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${build} -DCMAKE_PREFIX_PATH=${prefix}
    -DKAV_SAMPLES=${WORK}/pictures)
run(${CMAKE_COMMAND} --build ${build})
file(STRINGS ${build}/pairs.txt pairs)
run(${build}/consumer ${pairs})

foreach(frame IN ITEMS 0 1)
  if(NOT EXISTS ${build}/frames/anim_${frame}.RLE)
    message(FATAL_ERROR "anim.gif gave no frames/anim_${frame}.RLE")
  endif()
endforeach()
# Built again with nothing changed, nothing is converted (a GIF's outputs are not its rule's).
run(${CMAKE_COMMAND} --build ${build})
if(output MATCHES "Converting")
  message(FATAL_ERROR "a build with nothing changed converted again:\n${output}")
endif()

expect_rebuild(${WORK}/pictures/anim.gif "Converting anim.gif")
expect_rebuild(${WORK}/pictures/wide.bmp
               "Converting wide.bmp;Converting wide.bmp;Converting wide.bmp;Converting wide.bmp;Converting wide.bmp")
# A palette file changed converts again every picture that takes it, and nothing else.
expect_rebuild(${WORK}/pictures/game.hex "Converting sprite.bmp;Converting wide.bmp")

run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/share/pkgconfig
    sh -c "cc $(pkg-config --cflags kav-formats) -o ${WORK}/plain ${CMAKE_CURRENT_LIST_DIR}/consumer.c")
run(${WORK}/plain ${pairs})
file(REMOVE_RECURSE ${WORK})
