# Cross build for 32-bit Windows with mingw-w64; test programs run on wine (wine32).
set(OPCMON_MINGW_TRIPLE i686-w64-mingw32)
set(OPCMON_WINE_LOADER /usr/lib/wine/wine CACHE FILEPATH "Wine loader for this architecture")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
