cmake_minimum_required(VERSION 3.25)
# Installs the build tree into a temporary prefix and checks that every file a desktop needs is
# where it looks for it. Run by ctest: cmake -DBUILD_DIR=... -DPREFIX=... -P CheckInstall.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
set(expected
  bin/tarnvelox
  bin/tarnvelox-cli
  share/doc/tarnvelox/tarnvelox.html
  share/applications/tarnvelox.desktop
  share/icons/hicolor/48x48/apps/tarnvelox.png
  share/icons/hicolor/256x256/apps/tarnvelox.png
  share/man/man1/tarnvelox-cli.1
  share/bash-completion/completions/tarnvelox-cli
  share/zsh/site-functions/_tarnvelox-cli)
foreach(path IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
file(STRINGS "${PREFIX}/share/applications/tarnvelox.desktop" entry)
foreach(line "Exec=tarnvelox" "Icon=tarnvelox" "Type=Application")
  if(NOT "${line}" IN_LIST entry)
    message(FATAL_ERROR "the desktop entry lacks ${line}")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
