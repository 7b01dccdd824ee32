# Installing and packaging. Included at the end of the top-level CMakeLists, once every target
# exists.
#
# Layout of an install (prefix P):
#   P/bin/tovik                      the program; RPATH $ORIGIN/../lib
#   P/lib/libtovik_*.so              every shared library the program needs
#   P/share/tovik/file/              the packaged data (data_dir() finds it from bin/../share)
#   P/share/tovik/tools/README.md    how the outside programs (allure, Appium) are obtained
#   P/share/doc/tovik/keywords-*.html  the keyword reference of each keyword class

# The project's shared libraries, found by walking the directories rather than listing them, so
# libraries added, split or moved are installed without touching this file. The demo, the tests
# and the benchmarks build libraries of their own that the program does not use.
function(tovik_shared_libraries dir out)
  set(found)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(t IN LISTS targets)
    get_target_property(type ${t} TYPE)
    if(type STREQUAL "SHARED_LIBRARY")
      list(APPEND found ${t})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${sub})
    if(rel MATCHES "^(examples|tests|bench)(/|$)")
      continue()
    endif()
    tovik_shared_libraries(${sub} sub_found)
    list(APPEND found ${sub_found})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

tovik_shared_libraries(${CMAKE_SOURCE_DIR} TOVIK_SHARED_LIBRARIES)
foreach(lib IN LISTS TOVIK_SHARED_LIBRARIES)
  # Installed next to other programs' libraries in /usr/lib, names like liblexa.so would be
  # nobody's in particular: every file carries the project's prefix.
  get_target_property(name ${lib} OUTPUT_NAME)
  if(NOT name)
    set(name ${lib})
  endif()
  if(NOT name MATCHES "^tovik_")
    set_target_properties(${lib} PROPERTIES OUTPUT_NAME tovik_${name})
  endif()
endforeach()
install(TARGETS ${TOVIK_SHARED_LIBRARIES} LIBRARY DESTINATION lib)

install(FILES ${CMAKE_SOURCE_DIR}/tools/README.md DESTINATION share/tovik/tools)

# cpack -G DEB in the build directory: tovik_<version>_<arch>.deb installing under /usr. The
# dependencies are worked out by dpkg-shlibdeps (packages dpkg-dev and file) from the libraries
# the binaries link.
set(CPACK_PACKAGE_NAME tovik)
set(CPACK_PACKAGE_VENDOR "tovik developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keyword-driven test automation for web, app and API cases in workbooks and YAML")
set(CPACK_PACKAGE_CONTACT "tovik developers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "tovik developers")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# loaded when first used, so dpkg-shlibdeps does not see it (support/http/curl_shim.cpp)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4 (>= 7.88)")
# no debug information in the package (a small fraction of the size)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)
