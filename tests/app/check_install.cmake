# Installs the build into PREFIX and checks that the dialog, its desktop entry and its
# icons are where a desktop looks for them.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

foreach(file bin/kav-graphic-converter
             share/applications/kav-graphic-converter.desktop
             share/icons/hicolor/16x16/apps/kav-graphic-converter.png
             share/icons/hicolor/32x32/apps/kav-graphic-converter.png)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

file(READ "${PREFIX}/share/applications/kav-graphic-converter.desktop" entry)
foreach(line "Exec=kav-graphic-converter" "Icon=kav-graphic-converter" "Type=Application"
             "Name=KAV Graphic Converter")
  string(FIND "${entry}" "\n${line}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the desktop entry lacks the line ${line}")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
