# The build's folder rule against one file at a time: each row is a folder,
# an include line, and whether a widget-free library holding that file builds.
# Run by ctest as cmake -DSOURCE_DIR=... -DWORK=... -DQT_WIDGET_INCLUDES=... -P.
cmake_minimum_required(VERSION 3.25)
set(rows
  "core|#include \"ui/controls.h\"|refused"
  "core|#include \"announcer/mainwindow.h\"|refused"
  "node/svxlink|#include \"../../ui/program.h\"|refused"
  "core|#include <QWidget>|refused"
  "node/link|  #  include <QtWidgets/QLabel>|refused"
  "core|#include <QColor>|refused"
  "node/echolink/audio|#include <QtGui/QImage>|refused"
  "core|#include <QTimer>|built"
  "node/simulated|#include \"node/link/nodeprotocol.h\"|built"
  "node/echolink|#include \"node/echolink/protocol/packets.h\"|built"
  "node/svxlink|#include \"mirelva_hook.h\"|built"
  "core|#include <alsa/asoundlib.h>|built")
set(failures 0)
set(n 0)
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" cells "${row}")
  list(GET cells 0 folder)
  list(GET cells 1 line)
  list(GET cells 2 expected)
  math(EXPR n "${n} + 1")
  set(tree ${WORK}/row${n})
  file(REMOVE_RECURSE ${tree})
  file(WRITE ${tree}/${folder}/a.cpp "// row ${n}\n${line}\nint f() { return 0; }\n")
  file(WRITE ${tree}/lists.cmake "set(FILES \"${tree}/${folder}/a.cpp\")
set(WIDGET_FREE \"core;node/link;node/simulated;node/svxlink;node/echolink;node/echolink/protocol;node/echolink/audio\")
set(QT_WIDGET_INCLUDES \"${QT_WIDGET_INCLUDES}\")
set(SOURCE_DIR \"${tree}\")\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -DLISTS=${tree}/lists.cmake -DSTAMP=${tree}/ok.stamp
                          -P ${SOURCE_DIR}/cmake/folderrules.cmake
                  RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
  if(rc EQUAL 0 AND EXISTS ${tree}/ok.stamp)
    set(got built)
  elseif(NOT rc EQUAL 0 AND NOT EXISTS ${tree}/ok.stamp)
    set(got refused)
    # The refusal names the file and what it included.
    string(REGEX MATCH "include[ \t]*[<\"]([^>\"]+)" _ "${line}")
    string(FIND "${err}" "${folder}/a.cpp includes" at_file)
    string(FIND "${err}" "${CMAKE_MATCH_1}" at_header)
    if(at_file EQUAL -1 OR at_header EQUAL -1)
      set(got "refused without naming ${folder}/a.cpp and ${CMAKE_MATCH_1}: ${err}")
    endif()
  else()
    set(got "rc ${rc}, stamp left inconsistent")
  endif()
  if(NOT got STREQUAL expected)
    message("FAIL row ${n} (${folder}: ${line}): expected ${expected}, got ${got}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} of ${n} rows failed")
endif()
message("${n} rows passed")
