# The product's version is the project's VERSION (top CMakeLists.txt). The version resources read it from a
# generated header; the release reads it from the cache.
configure_file(${CMAKE_CURRENT_LIST_DIR}/fl_version.h.in ${CMAKE_BINARY_DIR}/generated/fl_version.h @ONLY)
include_directories(${CMAKE_BINARY_DIR}/generated)

# The banner of the cleaner and the audit's report still carry the version as a constant of their own; a build
# whose constants disagree with the project's version does not configure.
foreach(source cleaner/run_driver.cpp audit/main.cpp)
  file(STRINGS ${PROJECT_SOURCE_DIR}/${source} version_line REGEX "kVersion\\[\\] = \"")
  if(NOT version_line MATCHES "\"${PROJECT_VERSION}\"")
    message(FATAL_ERROR "${source}: its kVersion (${version_line}) is not the project's version ${PROJECT_VERSION}")
  endif()
endforeach()
