# Cross-building the Windows launcher on Debian with MinGW-w64 (posix thread
# model, which the C++ standard library's threads need) against a cross Qt.
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DTESSARIN_WIN_PREFIX=<cross Qt prefix>
# scripts/windows.sh builds that Qt and passes its prefix.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TESSARIN_MINGW x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${TESSARIN_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSARIN_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSARIN_MINGW}-windres)

set(TESSARIN_WIN_PREFIX "" CACHE PATH "Prefix of the cross-built Qt (and the MySQL client library)")
set(CMAKE_FIND_ROOT_PATH /usr/${TESSARIN_MINGW} ${TESSARIN_WIN_PREFIX})
set(CMAKE_PREFIX_PATH ${TESSARIN_WIN_PREFIX})
# Programs (moc, rcc) are the build machine's; libraries and headers only the
# target's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test executables and generators run under Wine.
find_program(TESSARIN_WINE wine)
if(TESSARIN_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TESSARIN_WINE})
endif()
