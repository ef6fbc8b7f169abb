# Byte-for-byte reproducible deliverables: two builds of one commit, in any
# folder, at any time, by any user and with any number of jobs, give the same
# Quillon.exe and Plugin.dll.
#
# - Time. The linker writes SOURCE_DATE_EPOCH into the PE header and into
#   Plugin.dll's export directory, where it would otherwise write the time of
#   the link (reproducible_link below). Taken from the environment when it is set there, else from the
#   commit's time; a source tree outside git gets 0 and a warning. The 64-bit
#   build of Plugin.dll is given the 32-bit build's time.
# - Paths. The folders of the source and the build are cut from every file
#   name the compiler records (__FILE__ in assertions, debug information).
# - Order. The globbed sources are sorted (see CMakeLists.txt); archives are
#   written without dates (the toolchain's default).

if(DEFINED QUILLON_INHERITED_SOURCE_DATE_EPOCH)
  # The 64-bit build takes the time the 32-bit build that started it decided
  # on: both DLLs of a release carry one time.
  set(QUILLON_SOURCE_DATE_EPOCH "${QUILLON_INHERITED_SOURCE_DATE_EPOCH}")
  set(_epoch_from "the 32-bit build")
elseif(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(QUILLON_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
  set(_epoch_from "SOURCE_DATE_EPOCH")
else()
  # Only the commit of this source tree: a copy of it inside some other
  # repository must not take that repository's time.
  execute_process(COMMAND git rev-parse --show-toplevel
                  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                  OUTPUT_VARIABLE _top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE _top_status)
  set(QUILLON_SOURCE_DATE_EPOCH "")
  if(_top_status EQUAL 0)
    file(REAL_PATH "${_top}" _top)
    file(REAL_PATH "${CMAKE_SOURCE_DIR}" _source)
    if(_top STREQUAL _source)
      execute_process(COMMAND git log -1 --format=%ct
                      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                      OUTPUT_VARIABLE QUILLON_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    endif()
  endif()
  set(_epoch_from "the commit's time")
  if(QUILLON_SOURCE_DATE_EPOCH STREQUAL "")
    message(WARNING "Not a git checkout and SOURCE_DATE_EPOCH is not set: the binaries carry the time 0. "
                    "Set SOURCE_DATE_EPOCH to the commit's time to rebuild a release.")
    set(QUILLON_SOURCE_DATE_EPOCH 0)
  endif()
endif()
if(NOT QUILLON_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be seconds since 1970, not '${QUILLON_SOURCE_DATE_EPOCH}'")
endif()
message(STATUS "Time stamp of the binaries: ${QUILLON_SOURCE_DATE_EPOCH} (${_epoch_from})")

# ld reads the time from the environment only, so a deliverable's link runs
# with it: reproducible_link(Plugin). Other programs keep the time of their
# link and are not linked again when a new commit changes the time.
function(reproducible_link target)
  set_property(TARGET ${target} PROPERTY RULE_LAUNCH_LINK
               "${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${QUILLON_SOURCE_DATE_EPOCH}")
endfunction()

add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=>
                    $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>)
