# Finds Intel ISA-L, whose inflate the archive reader uses: the imported
# target ISAL::ISAL and ISAL_VERSION (from isa-l.h).
#
# Natively it is Debian's libisal-dev. For Windows it is the static library
# scripts/isal-mingw.sh builds from Debian's source package into
# build-win-deps/isal beside the build folders; ISAL_ROOT names another
# folder holding include/isa-l.h and lib/libisal.a.
if(CMAKE_CROSSCOMPILING AND NOT ISAL_ROOT)
  set(ISAL_ROOT ${CMAKE_SOURCE_DIR}/build-win-deps/isal)
endif()

if(ISAL_ROOT)
  # Only there: the cross toolchain's root path would hide it, and a
  # library found anywhere else would not be the one the script checked.
  find_path(ISAL_INCLUDE_DIR isa-l.h PATHS ${ISAL_ROOT}/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  find_library(ISAL_LIBRARY NAMES libisal.a isal PATHS ${ISAL_ROOT}/lib NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
else()
  find_path(ISAL_INCLUDE_DIR isa-l.h)
  find_library(ISAL_LIBRARY NAMES isal)
endif()

if(ISAL_INCLUDE_DIR AND EXISTS ${ISAL_INCLUDE_DIR}/isa-l.h)
  file(STRINGS ${ISAL_INCLUDE_DIR}/isa-l.h isal_version_lines REGEX "#define ISAL_(MAJOR|MINOR|PATCH)_VERSION ")
  foreach(part MAJOR MINOR PATCH)
    string(REGEX REPLACE ".*#define ISAL_${part}_VERSION +([0-9]+).*" "\\1" isal_${part} "${isal_version_lines}")
  endforeach()
  set(ISAL_VERSION ${isal_MAJOR}.${isal_MINOR}.${isal_PATCH})
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(ISAL REQUIRED_VARS ISAL_LIBRARY ISAL_INCLUDE_DIR VERSION_VAR ISAL_VERSION)

if(ISAL_FOUND AND NOT TARGET ISAL::ISAL)
  add_library(ISAL::ISAL UNKNOWN IMPORTED)
  set_target_properties(ISAL::ISAL PROPERTIES IMPORTED_LOCATION ${ISAL_LIBRARY}
                        INTERFACE_INCLUDE_DIRECTORIES ${ISAL_INCLUDE_DIR})
endif()
mark_as_advanced(ISAL_INCLUDE_DIR ISAL_LIBRARY)
