# The same Windows build for 64-bit Windows: what wine64 runs where the
# kernel runs no 32-bit programs. The programs for the maker's 32-bit DLL
# are the i686 ones.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VARNEL_MINGW_TRIPLE x86_64-w64-mingw32)
set(VARNEL_WINE /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
