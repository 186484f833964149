# The driver's layers point only down:
#   lib <- core <- hw <- engine <- {uga, platform} <- binding
# A file may include its own layer and the layers below it; uga and platform
# are siblings and include neither each other nor anything above them. And
# no register primitive is called with a literal offset or index: register
# names live in driver/hw/regmap.
#
#   cmake -DDRIVER_DIR=<dir> -P check_layers.cmake
if(NOT DRIVER_DIR)
  message(FATAL_ERROR "DRIVER_DIR is not set")
endif()

set(rank_lib 0)
set(rank_core 1)
set(rank_hw 2)
set(rank_engine 3)
set(rank_uga 4)
set(rank_platform 4)
set(rank_binding 5)

file(GLOB_RECURSE files RELATIVE ${DRIVER_DIR} ${DRIVER_DIR}/*.h ${DRIVER_DIR}/*.cpp)
set(problems "")
foreach(file ${files})
  string(REGEX MATCH "^[a-z_]+" layer "${file}")
  if(NOT DEFINED rank_${layer})
    list(APPEND problems "${file}: not in a known layer")
    continue()
  endif()
  file(STRINGS ${DRIVER_DIR}/${file} includes REGEX "^#include \"driver/")
  foreach(line ${includes})
    string(REGEX REPLACE "^#include \"driver/([a-z_]+)/.*" "\\1" target "${line}")
    if(target STREQUAL layer)
      continue()
    endif()
    if(NOT DEFINED rank_${target} OR NOT rank_${target} LESS rank_${layer})
      list(APPEND problems "${file}: ${layer} includes ${target} (${line})")
    endif()
  endforeach()
  if(file MATCHES "\\.cpp$")
    file(STRINGS ${DRIVER_DIR}/${file} literals REGEX
         "(RegRead8|RegRead32|RegTryRead32|RegWrite8|RegWrite32|McRead|McWrite|McWriteAndTrace|PllRead|PllWrite|IndexedWrite|AuxRegRead|AuxRegWrite)\\([A-Za-z_>-]+, *(0x[0-9A-Fa-f]+|[0-9]+)[,)]")
    foreach(line ${literals})
      string(STRIP "${line}" line)
      list(APPEND problems "${file}: register by number: ${line}")
    endforeach()
  endif()
endforeach()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "layer check:\n  ${text}")
endif()
list(LENGTH files count)
message(STATUS "layer check: ${count} files, every include points down")
