# The product's version is the project's VERSION (top CMakeLists.txt). The version resources read it from a
# generated header, and so do the cleaner's banner and the audit's report; the release reads it from the cache.
configure_file(${CMAKE_CURRENT_LIST_DIR}/fl_version.h.in ${CMAKE_BINARY_DIR}/generated/fl_version.h @ONLY)
include_directories(${CMAKE_BINARY_DIR}/generated)
