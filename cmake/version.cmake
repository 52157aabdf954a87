# The product's version is the project's VERSION (top CMakeLists.txt). The version resources read it from a
# generated header, and so do the cleaner's banner and the audit's report; the release reads it from the cache.
# Windows keeps four numbers in a version resource: the parts the project leaves out are 0.
foreach(part MAJOR MINOR PATCH TWEAK)
  set(FL_VERSION_${part} "${PROJECT_VERSION_${part}}")
  if(FL_VERSION_${part} STREQUAL "")
    set(FL_VERSION_${part} 0)
  endif()
endforeach()
set(FL_VERSION_HEADER ${CMAKE_BINARY_DIR}/generated/fl_version.h)
configure_file(${CMAKE_CURRENT_LIST_DIR}/fl_version.h.in ${FL_VERSION_HEADER} @ONLY)
include_directories(${CMAKE_BINARY_DIR}/generated)

# fl_program_resource(RC MANIFEST): windres writes no dependency file, so without this a new version or an
# edited manifest would leave the program with its old resources.
function(fl_program_resource rc manifest)
  set_source_files_properties(${rc} PROPERTIES
    OBJECT_DEPENDS "${FL_VERSION_HEADER};${CMAKE_CURRENT_SOURCE_DIR}/${manifest}")
endfunction()
