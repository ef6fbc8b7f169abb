# Cross-build for 64-bit Windows with MinGW-w64: Plugin.dll for 64-bit
# installers and its 64-bit tests. The build for 32-bit Windows starts this
# one itself (CMakeLists.txt, "Plugin.dll for 64-bit installers").
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/MinGwToolchain.cmake)
