# Lists every #include of the device (device/) and fails, naming the file and the include, when one
# breaks the device's layers or its one include style:
# - a header of the device is included by a quoted path relative to the includer ("../base/Status.h",
#   "CGImage.h"), the one form that also works in the iOS-named headers the system sees through
#   forwarders; an angle-bracket include naming a device folder is refused;
# - a folder includes its own headers, those of its floor's other folders and those of lower floors;
# - nothing leaves device/ (the system's headers, the tests').
#   cmake -DSOURCE_DIR=<root of the tree> -P CheckDeviceLayers.cmake

cmake_minimum_required(VERSION 3.25)

# The device's folders by floor, bottom up: the scheduling base; the run-time; the values every
# framework uses (Foundation and its C relatives, CoreMedia's and CoreVideo's buffers, which the
# media code makes) with dispatch and the activity records; the internals (SQLite, FFmpeg, the
# accessory protocol, the DNS-SD browser, the home description format, screen casting over the
# portal and PipeWire); the accessories (their store, the transports of simulated and real lamps,
# pairing); the iOS frameworks and the two outside libraries; the simulated processes.
set(floors
  "base"
  "objc substrate"
  "CoreFoundation Foundation CoreMedia CoreVideo dispatch activity"
  "sqlite media hap dnssd homes screencast"
  "accessories"
  "CoreGraphics UIKit QuartzCore VideoToolbox CoreImage AVKit HomeKit MRYIPC HBPreferences"
  "apps")
set(level 0)
set(folders "")
foreach(floor IN LISTS floors)
  string(REPLACE " " ";" members "${floor}")
  foreach(member IN LISTS members)
    set(floor_${member} ${level})
    list(APPEND folders ${member})
  endforeach()
  math(EXPR level "${level} + 1")
endforeach()

set(device ${SOURCE_DIR}/device)
set(failures 0)
set(count 0)
file(GLOB_RECURSE files ${device}/*.h ${device}/*.cc)
foreach(file IN LISTS files)
  file(RELATIVE_PATH shown ${SOURCE_DIR} ${file})
  file(RELATIVE_PATH inside ${device} ${file})
  string(REGEX MATCH "^[^/]+" folder "${inside}")
  if(NOT folder IN_LIST folders)
    message(SEND_ERROR "${shown}: the folder ${folder}/ has no floor in CheckDeviceLayers.cmake")
    math(EXPR failures "${failures} + 1")
    continue()
  endif()
  get_filename_component(here ${file} DIRECTORY)
  file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include")
  foreach(include IN LISTS includes)
    math(EXPR count "${count} + 1")
    if(include MATCHES "#[ \t]*include[ \t]*<([^>/]+)/")
      if(CMAKE_MATCH_1 IN_LIST folders)
        message(SEND_ERROR "${shown}: `${include}` names a device header with angle brackets; "
                           "include it by its path relative to ${shown}")
        math(EXPR failures "${failures} + 1")
      endif()
    elseif(include MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
      set(written ${CMAKE_MATCH_1})
      get_filename_component(target ${here}/${written} ABSOLUTE)
      string(FIND "${target}" "${device}/" at)
      if(NOT at EQUAL 0 OR NOT EXISTS ${target})
        message(SEND_ERROR "${shown}: \"${written}\" is not a device header relative to this file")
        math(EXPR failures "${failures} + 1")
        continue()
      endif()
      file(RELATIVE_PATH reached ${device} ${target})
      string(REGEX MATCH "^[^/]+" reachedFolder "${reached}")
      if(NOT reachedFolder IN_LIST folders)
        message(SEND_ERROR "${shown}: \"${written}\" is in ${reachedFolder}/, which has no floor")
        math(EXPR failures "${failures} + 1")
      elseif(floor_${reachedFolder} GREATER floor_${folder})
        message(SEND_ERROR "${shown}: \"${written}\" reaches up from ${folder}/ to ${reachedFolder}/")
        math(EXPR failures "${failures} + 1")
      endif()
    endif()
  endforeach()
endforeach()

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} of the device's ${count} includes break its layers or its include style")
endif()
message(STATUS "all ${count} of the device's includes keep to its layers and its include style")
