# Shared part of the mingw-w64 toolchain files; HVT_MINGW_TRIPLE names the
# target. The posix-thread compilers are preferred (full <thread>/<mutex>);
# the win32-thread ones are taken when they are all there is.
foreach(lang C CXX)
  if(lang STREQUAL "C")
    set(driver gcc)
  else()
    set(driver g++)
  endif()
  find_program(HVT_MINGW_${lang}
    NAMES ${HVT_MINGW_TRIPLE}-${driver}-posix ${HVT_MINGW_TRIPLE}-${driver}
    REQUIRED)
  set(CMAKE_${lang}_COMPILER ${HVT_MINGW_${lang}})
endforeach()
find_program(CMAKE_RC_COMPILER NAMES ${HVT_MINGW_TRIPLE}-windres)
find_program(CMAKE_DLLTOOL NAMES ${HVT_MINGW_TRIPLE}-dlltool REQUIRED)
find_program(CMAKE_OBJDUMP NAMES ${HVT_MINGW_TRIPLE}-objdump objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${HVT_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs built here run under Wine.
find_program(HVT_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(HVT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${HVT_WINE})
endif()
