# Cross build for 64-bit Windows with mingw-w64; test programs run on wine64.
set(OPCMON_MINGW_TRIPLE x86_64-w64-mingw32)
set(OPCMON_WINE_LOADER /usr/lib/wine/wine64 CACHE FILEPATH "Wine loader for this architecture")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
