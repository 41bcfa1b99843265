# The link seams listed in seams.def, for the native tests.
#   zulseams                        the target a test links to include Seams.h
#   zul_seam_names(VAR KIND ...)    the symbols of the lines of those kinds
#                                   (SEAM SEAM_OPENS SEAM_CLOSES OPENS CLOSES CALL)
#   zul_link_seams(TARGET SYMBOL ...) -Wl,--wrap for each symbol, which the
#                                   table must list
include(CheckCXXSourceCompiles)

set(ZUL_SEAMS_DEF ${CMAKE_CURRENT_LIST_DIR}/seams.def)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZUL_SEAMS_DEF})

# operator new(size_t, const std::nothrow_t &) is mangled after size_t's type.
foreach(candidate "unsigned int:j" "unsigned long:m" "unsigned long long:y")
  string(REPLACE ":" ";" pair "${candidate}")
  list(GET pair 0 type)
  list(GET pair 1 code)
  string(MAKE_C_IDENTIFIER "ZUL_SIZE_T_IS_${type}" var)
  check_cxx_source_compiles("#include <cstddef>
    #include <type_traits>
    static_assert(std::is_same<std::size_t, ${type}>::value, \"\");
    int main() { return 0; }" ${var})
  if(${var})
    set(ZUL_NEW_NOTHROW _Znw${code}RKSt9nothrow_t)
    break()
  endif()
endforeach()
if(NOT ZUL_NEW_NOTHROW)
  message(FATAL_ERROR "size_t is none of the types the nothrow operator new is known to be mangled after")
endif()

add_library(zulseams INTERFACE)
target_include_directories(zulseams INTERFACE ${CMAKE_CURRENT_LIST_DIR})
target_compile_definitions(zulseams INTERFACE ZUL_NEW_NOTHROW=${ZUL_NEW_NOTHROW})

function(zul_seam_names var)
  string(JOIN "|" kinds ${ARGN})
  file(STRINGS ${ZUL_SEAMS_DEF} lines REGEX "^ZUL_(${kinds})\\(")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^ZUL_[A-Z_]+\\(([A-Za-z0-9_]+),.*" "\\1" name "${line}")
    if(name STREQUAL "ZUL_NEW_NOTHROW")
      set(name ${ZUL_NEW_NOTHROW})
    endif()
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
