# Compile and link options shared by every target of the project.

if(MSVC)
  add_compile_options(/W4 /D_CRT_SECURE_NO_WARNINGS /D_CRT_NONSTDC_NO_WARNINGS)
else()
  add_compile_options(-Wall -Wextra)
endif()

if(WIN32)
  add_compile_definitions(_CRT_SECURE_NO_WARNINGS WIN32_LEAN_AND_MEAN)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    set(CMAKE_C_FLAGS_RELEASE "-Os -DNDEBUG" CACHE STRING "" FORCE)
    set(CMAKE_CXX_FLAGS_RELEASE "-Os -DNDEBUG" CACHE STRING "" FORCE)
    # Only system DLLs at run time: the C++ and GCC runtimes go into the exes
    # that need them (ZULFuncts.exe links neither: src/ZULFuncts).
    add_link_options(-static -static-libgcc -static-libstdc++)
    add_link_options($<$<CONFIG:Release>:-s>)
    # Reproducible bytes: no link time stamp, and no path of the checkout or
    # the build directory in what the compiler writes.
    add_link_options(-Wl,--no-insert-timestamp)
    add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>"
                        "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=build>")
  endif()
endif()

if(ZUL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# The program's own code uses no exceptions and no RTTI.
# Its exe is Terminal-Server aware (MSVC's linker sets that by default, MinGW's
# does not): on a Remote Desktop host an unaware program gets a private Windows
# directory per user, and the data sources would be installed there.
function(zul_program_options target)
  if(NOT MSVC)
    target_compile_options(${target} PRIVATE -fno-exceptions)
    if(WIN32)
      target_compile_options(${target} PRIVATE -fno-rtti)
      get_target_property(type ${target} TYPE)
      if(type STREQUAL "EXECUTABLE")
        target_link_options(${target} PRIVATE -Wl,--tsaware)
      endif()
    endif()
  endif()
endfunction()
