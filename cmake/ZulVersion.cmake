# The release version, X.Y.Z, from the VERSION file at the root; included
# before project(). Sets ZUL_VERSION. The fourth field, the commit and whether
# the checkout has changes are decided on every build, by
# cmake/ZulVersionHeader.cmake.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../VERSION ZUL_VERSION LIMIT_COUNT 1)
string(STRIP "${ZUL_VERSION}" ZUL_VERSION)
if(NOT ZUL_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "VERSION holds '${ZUL_VERSION}', not X.Y.Z")
endif()
foreach(part 1 2 3)
  if(CMAKE_MATCH_${part} GREATER 65535)
    message(FATAL_ERROR "VERSION ${ZUL_VERSION}: a part of a file version is at most 65535")
  endif()
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/../VERSION)
