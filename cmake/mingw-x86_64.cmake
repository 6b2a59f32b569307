# 64-bit Windows: the same sources, for running the tests where Wine can run
# only 64-bit programs (see tools/wine-run.sh).
set(mingw_arch x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
