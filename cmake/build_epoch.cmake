# The one time of a build, SORVANE_BUILD_EPOCH (seconds since 1970, UTC),
# wherever a time would enter what the build ships: SOURCE_DATE_EPOCH when
# it is set, otherwise the time of the checkout's last commit, otherwise a
# fixed time. So two builds of one commit carry the same time, whenever and
# wherever they run, and anyone can rebuild a release and get its bytes.
#
# The fixed time is 2000-01-01 00:00:00 UTC, not 0: a zip entry's time
# can't be earlier than 1980.
set(SORVANE_FALLBACK_EPOCH 946684800)

if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(SORVANE_BUILD_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
  set(epoch_from "SOURCE_DATE_EPOCH")
else()
  set(SORVANE_BUILD_EPOCH "")
  find_package(Git QUIET)
  # Only the source folder's own repository: a source tree unpacked inside
  # some other checkout must not take that one's commit.
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${CMAKE_SOURCE_DIR} rev-parse --show-toplevel
                    OUTPUT_VARIABLE git_top RESULT_VARIABLE git_status
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(git_status EQUAL 0)
      file(REAL_PATH "${git_top}" git_top)
      file(REAL_PATH "${CMAKE_SOURCE_DIR}" source_top)
    endif()
  endif()
  if(GIT_FOUND AND git_status EQUAL 0 AND git_top STREQUAL source_top)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
                    OUTPUT_VARIABLE SORVANE_BUILD_EPOCH RESULT_VARIABLE git_status
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT git_status EQUAL 0)
      set(SORVANE_BUILD_EPOCH "")
    endif()
    # A new commit, a checkout or a reset moves HEAD's log: the next build
    # configures again and takes the new commit's time.
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${CMAKE_SOURCE_DIR} rev-parse --path-format=absolute
                            --git-path logs/HEAD
                    OUTPUT_VARIABLE head_log RESULT_VARIABLE git_status
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(git_status EQUAL 0 AND EXISTS "${head_log}")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${head_log}")
    endif()
  endif()
  if(SORVANE_BUILD_EPOCH STREQUAL "")
    set(SORVANE_BUILD_EPOCH ${SORVANE_FALLBACK_EPOCH})
    set(epoch_from "no commit to take it from")
  else()
    set(epoch_from "the last commit")
  endif()
endif()

if(NOT SORVANE_BUILD_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a number of seconds since 1970, not \"${SORVANE_BUILD_EPOCH}\"")
endif()
if(SORVANE_BUILD_EPOCH LESS 315532800)
  message(FATAL_ERROR "The build's time ${SORVANE_BUILD_EPOCH} is before 1980, which a zip entry can't hold")
endif()
# string(TIMESTAMP) takes SOURCE_DATE_EPOCH for "now": given ours for a
# moment, it prints ours.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(saved_epoch "$ENV{SOURCE_DATE_EPOCH}")
  string(TIMESTAMP epoch_text "%Y-%m-%d %H:%M:%S UTC" UTC)
else()
  set(ENV{SOURCE_DATE_EPOCH} ${SORVANE_BUILD_EPOCH})
  string(TIMESTAMP epoch_text "%Y-%m-%d %H:%M:%S UTC" UTC)
  unset(ENV{SOURCE_DATE_EPOCH})
endif()
message(STATUS "Build time: ${SORVANE_BUILD_EPOCH} (${epoch_text}, from ${epoch_from})")
