# Fails when a source file includes a header of a higher layer. Run as
#   cmake -DSOURCE_DIR=<repository> -P cmake/CheckLayers.cmake
# The layers, lowest first: platform <- data <- gfx <- audio <- scene <- effects <- script
# <- shell (the scene effects draw through the scene engine). A folder may include its own
# headers and those of the layers below it; the tools may use every layer but the script and
# the shell.
cmake_minimum_required(VERSION 3.25)
set(allowed_platform platform)
set(allowed_data platform data)
set(allowed_gfx platform data gfx)
set(allowed_audio platform data audio)
set(allowed_scene platform data gfx audio scene)
set(allowed_effects platform data gfx audio scene effects)
set(allowed_script platform data gfx audio effects scene script)
set(allowed_shell platform data gfx audio effects scene script shell)
set(allowed_tools platform data gfx audio effects scene tools)
set(layers platform data gfx audio scene effects script shell tools)

set(violations "")
foreach(layer ${layers})
  file(GLOB_RECURSE sources "${SOURCE_DIR}/${layer}/*.h" "${SOURCE_DIR}/${layer}/*.cpp")
  foreach(source ${sources})
    file(STRINGS "${source}" includes REGEX "^#include \"[a-z0-9_]+/")
    foreach(line ${includes})
      string(REGEX REPLACE "^#include \"([a-z0-9_]+)/.*" "\\1" included "${line}")
      if(NOT included IN_LIST layers)
        continue()
      endif()
      if(NOT included IN_LIST allowed_${layer})
        file(RELATIVE_PATH where "${SOURCE_DIR}" "${source}")
        list(APPEND violations "${where}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "upward includes:\n  ${text}")
endif()
message(STATUS "layers: no upward include")
