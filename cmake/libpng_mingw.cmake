# libpng for the Windows build. Debian ships none for mingw, so its source
# package (QUINDRAL_LIBPNG_SOURCE_DIR) is cross-built at build time with the
# same toolchain, as a static library against the static zlib of
# libz-mingw-w64-dev, so that the DLL imports neither.
include(ExternalProject)

set(QUINDRAL_MINGW_ROOT /usr/i686-w64-mingw32)
set(QUINDRAL_MINGW_ZLIB ${QUINDRAL_MINGW_ROOT}/lib/libz.a)
if(NOT EXISTS ${QUINDRAL_MINGW_ZLIB})
  message(FATAL_ERROR "${QUINDRAL_MINGW_ZLIB} not found: install libz-mingw-w64-dev (scripts/setup.sh)")
endif()

set(libpng_mingw_prefix ${CMAKE_BINARY_DIR}/libpng-mingw)
set(libpng_mingw_install ${libpng_mingw_prefix}/install)
set(libpng_mingw_library ${libpng_mingw_install}/lib/libpng16.a)

ExternalProject_Add(libpng_mingw_build
  SOURCE_DIR ${QUINDRAL_LIBPNG_SOURCE_DIR}
  PREFIX ${libpng_mingw_prefix}
  BINARY_DIR ${libpng_mingw_prefix}/build
  INSTALL_DIR ${libpng_mingw_install}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw.cmake
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX=${libpng_mingw_install}
    -DCMAKE_INSTALL_LIBDIR=lib
    -DPNG_SHARED=OFF
    -DPNG_STATIC=ON
    -DPNG_TESTS=OFF
    -DPNG_EXECUTABLES=OFF
    -DPNG_HARDWARE_OPTIMIZATIONS=OFF
    -DSKIP_INSTALL_EXECUTABLES=ON
    -DSKIP_INSTALL_PROGRAMS=ON
    -DSKIP_INSTALL_FILES=ON
    -DSKIP_INSTALL_EXPORT=ON
    -DZLIB_LIBRARY=${QUINDRAL_MINGW_ZLIB}
    -DZLIB_INCLUDE_DIR=${QUINDRAL_MINGW_ROOT}/include
  BUILD_BYPRODUCTS ${libpng_mingw_library}
  UPDATE_COMMAND ""
)

# The include folder is filled by the build; it must exist when CMake checks
# the imported target.
file(MAKE_DIRECTORY ${libpng_mingw_install}/include)

add_library(quindral_zlib_mingw STATIC IMPORTED GLOBAL)
set_target_properties(quindral_zlib_mingw PROPERTIES IMPORTED_LOCATION ${QUINDRAL_MINGW_ZLIB})

add_library(quindral_libpng_mingw STATIC IMPORTED GLOBAL)
set_target_properties(quindral_libpng_mingw PROPERTIES
  IMPORTED_LOCATION ${libpng_mingw_library}
  INTERFACE_INCLUDE_DIRECTORIES ${libpng_mingw_install}/include
  INTERFACE_LINK_LIBRARIES quindral_zlib_mingw)
add_dependencies(quindral_libpng_mingw libpng_mingw_build)
