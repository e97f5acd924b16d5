# FFTW3 in double (fftw3) and single (fftw3f) precision: the imported target FFTW3::FFTW3.
# Found by path rather than pkg-config, so that a prefix of unpacked packages works too.
find_path(FFTW3_INCLUDE_DIR fftw3.h)
find_library(FFTW3_DOUBLE_LIBRARY fftw3)
find_library(FFTW3_SINGLE_LIBRARY fftw3f)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(FFTW3
  REQUIRED_VARS FFTW3_INCLUDE_DIR FFTW3_DOUBLE_LIBRARY FFTW3_SINGLE_LIBRARY)
if(FFTW3_FOUND AND NOT TARGET FFTW3::FFTW3)
  add_library(FFTW3::FFTW3 INTERFACE IMPORTED)
  target_include_directories(FFTW3::FFTW3 INTERFACE ${FFTW3_INCLUDE_DIR})
  target_link_libraries(FFTW3::FFTW3 INTERFACE ${FFTW3_SINGLE_LIBRARY} ${FFTW3_DOUBLE_LIBRARY})
endif()
