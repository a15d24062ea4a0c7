# Guards the test run against data files written outside the tests' own temporary
# directories: beside the executables (the default data directory of a build) and in
# the configuration directory every test process is given.
#
#   cmake -DMODE=record -DSTATE=FILE -DDIRS="d1|d2" -DCONFIG=DIR -P DataFileGuard.cmake
#   cmake -DMODE=check  -DSTATE=FILE -DDIRS="d1|d2" -DCONFIG=DIR -P DataFileGuard.cmake
#
# record notes what is there before the tests run (a program started from the build
# tree keeps its real data there, which must neither be touched nor be taken for a
# stray file); check fails when a data file appeared or changed since.

cmake_minimum_required(VERSION 3.25)

string(REPLACE "|" ";" DIRS "${DIRS}")
set(DATA_FILE_NAMES Proxies.pro Setting.dat Sources.dat proxy.pac UserdefinedTemplate.pac wry.dll)

function(snapshot out)
  set(lines)
  foreach(dir IN LISTS DIRS)
    foreach(name IN LISTS DATA_FILE_NAMES)
      set(path "${dir}/${name}")
      if(EXISTS "${path}")
        file(TIMESTAMP "${path}" stamp "%Y-%m-%dT%H:%M:%S" UTC)
        if(IS_DIRECTORY "${path}")
          set(size dir)
        else()
          file(SIZE "${path}" size)
        endif()
        list(APPEND lines "${path} ${stamp} ${size}")
      endif()
    endforeach()
    file(GLOB ini_files "${dir}/*.INI" "${dir}/*.ini")
    foreach(path IN LISTS ini_files)
      file(TIMESTAMP "${path}" stamp "%Y-%m-%dT%H:%M:%S" UTC)
      file(SIZE "${path}" size)
      list(APPEND lines "${path} ${stamp} ${size}")
    endforeach()
  endforeach()
  # The favourites profile and the autostart entry, wherever a test process that did
  # not choose its own configuration directory would have put them.
  file(GLOB config_files "${CONFIG}/*.INI" "${CONFIG}/*.ini" "${CONFIG}/autostart/*")
  foreach(path IN LISTS config_files)
    list(APPEND lines "${path} (configuration)")
  endforeach()
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

snapshot(now)
if(MODE STREQUAL "record")
  file(MAKE_DIRECTORY "${CONFIG}")
  file(WRITE "${STATE}" "${now}")
elseif(MODE STREQUAL "check")
  if(NOT EXISTS "${STATE}")
    message(FATAL_ERROR "no record of the data files before the run: ${STATE}")
  endif()
  file(READ "${STATE}" before)
  set(stray)
  foreach(entry IN LISTS now)
    if(NOT entry IN_LIST before)
      list(APPEND stray "${entry}")
    endif()
  endforeach()
  if(stray)
    list(JOIN stray "\n  " text)
    message(FATAL_ERROR "tests wrote data files outside their temporary directories:\n  ${text}")
  endif()
  message(STATUS "no data file was written beside the executables or into ${CONFIG}")
else()
  message(FATAL_ERROR "MODE must be record or check")
endif()
