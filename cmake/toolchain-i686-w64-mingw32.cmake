# Cross build for 32-bit Windows with Debian's mingw-w64 (i686-w64-mingw32).
# Used for build-win32/: the module vandrel.dll, the stand-in driver libraries and the Wine host harness.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(VANDREL_MINGW_PREFIX i686-w64-mingw32)
# The win32 thread model needs no winpthread library, so nothing but the
# system's own DLLs is imported.
find_program(CMAKE_C_COMPILER NAMES ${VANDREL_MINGW_PREFIX}-gcc-win32 ${VANDREL_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${VANDREL_MINGW_PREFIX}-g++-win32 ${VANDREL_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${VANDREL_MINGW_PREFIX}-windres REQUIRED)
find_program(VANDREL_DLLTOOL NAMES ${VANDREL_MINGW_PREFIX}-dlltool REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${VANDREL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
