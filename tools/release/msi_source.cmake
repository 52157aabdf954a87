# Writes the package's WiX source. Run in script mode:
#   cmake -DVERSION=2.5 -DSOURCE_ID=<what the package is made of> -DSTAGE=<folder with the programs, relative
#         to the .wxs> -DOUT=<file.wxs> -P msi_source.cmake
# Prints the product code and the package code. Both are name-based (SHA-1) GUIDs under the upgrade code, so
# that two packings of one commit write the same package: the product code from the version (a new version is a
# new product, which the major upgrade replaces), the package code from the version and SOURCE_ID (package.sh:
# the commit and the unsigned programs' hashes). Signing is not part of it: a re-signed package installed over
# the same version must not be a second package of one product, which Windows Installer refuses (1638).
set(FL_UPGRADE_CODE "{47D3A8AD-2719-4366-8815-2F2DF9BC0A48}")
foreach(var VERSION SOURCE_ID STAGE OUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "msi_source.cmake: ${var} is not set")
  endif()
endforeach()

string(REGEX REPLACE "[{}]" "" namespace "${FL_UPGRADE_CODE}")
set(FL_VERSION "${VERSION}")
# Windows Installer compares three fields.
string(REPLACE "." ";" fields "${VERSION}")
list(LENGTH fields count)
while(count LESS 3)
  list(APPEND fields 0)
  math(EXPR count "${count} + 1")
endwhile()
list(SUBLIST fields 0 3 fields)
string(JOIN "." FL_MSI_VERSION ${fields})

string(UUID product NAMESPACE ${namespace} NAME "Ferrolink Cleaner product ${VERSION}" TYPE SHA1 UPPER)
string(UUID package NAMESPACE ${namespace} NAME "Ferrolink Cleaner package ${VERSION} ${SOURCE_ID}" TYPE SHA1 UPPER)
set(FL_PRODUCT_CODE "{${product}}")
set(FL_STAGE "${STAGE}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/FerrolinkCleaner.wxs.in "${OUT}" @ONLY)
message("product_code={${product}}")
message("package_code={${package}}")
