# Cross-building for 64-bit Windows with Debian's mingw-w64 compilers (the POSIX-threads variant,
# package g++-mingw-w64-x86-64-posix). Programs built for the build's own use, such as tests,
# run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

# wine64 is the 64-bit loader in Debian's wine64 package; plain wine where it is the 64-bit one.
find_program(MINGW_WINE NAMES wine64 wine)
if(MINGW_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MINGW_WINE})
endif()

# Headers and libraries come from the mingw-w64 tree and from the prefixes named in
# CMAKE_PREFIX_PATH (where the cross-built libraries are installed), never from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
foreach(prefix IN LISTS CMAKE_PREFIX_PATH)
  list(APPEND CMAKE_FIND_ROOT_PATH ${prefix})
endforeach()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
