# Fails when a platform call appears outside the folder that owns it: HID and
# device-setup calls belong in device/, process pipes in updater/.
# Usage: cmake -DSOURCE_DIR=<project> -P check_walls.cmake
set(walls
    "device|SetupDi[A-Za-z]+|HidD_[A-Za-z]+|/sys/class/hidraw|/dev/hidraw|CreateFileW"
    "updater|[^A-Za-z_]_?popen[ (]|[^A-Za-z_]_?pclose[ (]")
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
     ${SOURCE_DIR}/app/*.cpp ${SOURCE_DIR}/app/*.h
     ${SOURCE_DIR}/device/*.cpp ${SOURCE_DIR}/device/*.h
     ${SOURCE_DIR}/updater/*.cpp ${SOURCE_DIR}/updater/*.h)
set(breaches "")
foreach(wall IN LISTS walls)
  string(REPLACE "|" ";" parts "${wall}")
  list(POP_FRONT parts owner)
  list(JOIN parts "|" pattern)
  foreach(source IN LISTS sources)
    if(source MATCHES "^${owner}/")
      continue()
    endif()
    file(STRINGS ${SOURCE_DIR}/${source} hits REGEX "${pattern}")
    foreach(hit IN LISTS hits)
      string(APPEND breaches "  ${source}: ${hit} (belongs in ${owner}/)\n")
    endforeach()
  endforeach()
endforeach()
if(breaches)
  message(FATAL_ERROR "Platform calls outside their folder:\n${breaches}")
endif()
list(LENGTH sources count)
message(STATUS "Platform calls stay in their folders: ${count} files read")
