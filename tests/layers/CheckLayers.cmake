# Holds every folder of src/ to the layer table: a file may include, by "folder/File.h",
# its own folder and the folders its layer uses, nothing else, and never climbs out of
# its folder with "../". Every folder of src/ needs a rule, and a layer may use only
# layers listed before it, so the table itself stays free of cycles.
#
#   cmake -DSOURCE_DIR=<tree holding src/> -DRULES=<file setting TQ_LAYERS and
#         TQ_LAYER_USES_<layer>> -P CheckLayers.cmake
cmake_minimum_required(VERSION 3.20)
include(${RULES})
get_filename_component(SOURCE_DIR ${SOURCE_DIR} ABSOLUTE)

set(problems "")
set(below "")
foreach(layer ${TQ_LAYERS})
  foreach(used ${TQ_LAYER_USES_${layer}})
    if(NOT used IN_LIST below)
      list(APPEND problems "layer ${layer} uses ${used}, which is not listed below it")
    endif()
  endforeach()
  list(APPEND below ${layer})
endforeach()

file(GLOB folders LIST_DIRECTORIES true RELATIVE ${SOURCE_DIR}/src ${SOURCE_DIR}/src/*)
foreach(folder ${folders})
  if(IS_DIRECTORY ${SOURCE_DIR}/src/${folder} AND NOT folder IN_LIST TQ_LAYERS)
    list(APPEND problems "src/${folder} has no place in the layer table")
  endif()
endforeach()

foreach(layer ${TQ_LAYERS})
  set(allowed ${layer} ${TQ_LAYER_USES_${layer}})
  list(JOIN allowed ", " allowedText)
  file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/src/${layer}/*)
  foreach(file ${files})
    file(STRINGS ${SOURCE_DIR}/${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" included "${line}")
      if(included MATCHES "(^|/)\\.\\./")
        list(APPEND problems "${file} includes ${included}: climbs out of its folder")
      elseif(included MATCHES "^([^/]+)/")
        set(folder ${CMAKE_MATCH_1})
        if(IS_DIRECTORY ${SOURCE_DIR}/src/${folder} AND NOT folder IN_LIST allowed)
          list(APPEND problems
               "${file} includes ${included}: ${layer} may include only ${allowedText}")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "Includes against the layer order:\n  ${text}")
endif()
message(STATUS "Includes follow the layer order (${TQ_LAYERS})")
