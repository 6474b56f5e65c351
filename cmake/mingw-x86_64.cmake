# Cross build for 64-bit Windows with mingw-w64. The product is the 32-bit build; this one runs
# the Windows tests under 64-bit Wine on a machine whose kernel runs no 32-bit programs.
set(FWLOAD_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
