# The link seams listed in seams.def, for the native tests.
#   zulseams                        the target a test links to include Seams.h
#   zul_seam_names(VAR KIND ...)    the symbols of the lines of those kinds
#                                   (SEAM SEAM_OPENS SEAM_CLOSES OPENS CLOSES CALL)
#   zul_link_seams(TARGET SYMBOL ...) -Wl,--wrap for each symbol, which the
#                                   table must list
set(ZUL_SEAMS_DEF ${CMAKE_CURRENT_LIST_DIR}/seams.def)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZUL_SEAMS_DEF})

add_library(zulseams INTERFACE)
target_include_directories(zulseams INTERFACE ${CMAKE_CURRENT_LIST_DIR})

function(zul_seam_names var)
  string(JOIN "|" kinds ${ARGN})
  file(STRINGS ${ZUL_SEAMS_DEF} lines REGEX "^ZUL_(${kinds})\\(")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^ZUL_[A-Z_]+\\(([A-Za-z0-9_]+),.*" "\\1" name "${line}")
    list(APPEND names ${name})
  endforeach()
  set(${var} ${names} PARENT_SCOPE)
endfunction()

function(zul_link_seams target)
  zul_seam_names(listed SEAM SEAM_OPENS SEAM_CLOSES OPENS CLOSES CALL)
  foreach(fn ${ARGN})
    if(NOT fn IN_LIST listed)
      message(FATAL_ERROR "${target} wraps ${fn}, which tests/seams/seams.def does not list")
    endif()
    target_link_options(${target} PRIVATE "-Wl,--wrap=${fn}")
  endforeach()
  target_link_libraries(${target} PRIVATE zulseams)
endfunction()
