# The Debian package: `cpack` in a build tree (or `make package` at the top)
# writes lumbra_<version>_<arch>.deb from the install rules, installed under
# /usr. Its dependencies come from dpkg-shlibdeps, which reads the libraries
# the two programs link (GMP, MPFR, the C and C++ runtimes) and names the
# Debian packages that hold them, with their minimal versions.
# The package also holds the library (liblumbra.so.1, liblumbra.a, the
# headers, the CMake package and lumbra.pc) and the Python module, built for
# the python3 it was configured with: that python3 is recommended.
set(LUMBRA_MAINTAINER "lumbra authors <maintainers@lumbra.invalid>"
  CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumbra)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the lumbra authors")
set(CPACK_PACKAGE_CONTACT ${LUMBRA_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "constrained Pascal triangles: exact path counts and tests of bit blocks")
set(CPACK_PACKAGE_DESCRIPTION [[
lumbra reads a block of n bits as a walk and counts exactly, with integers
of any size, how many walks with k one bits stay within distance d of the
line from start to end. It prints the whole constrained triangle of these
counts and draws the walk of each block of a file.
lumbra-kit turns the same counts into exact probabilities for every block,
a verdict on the randomness of a whole file, and an enumerative code for
blocks. The same computations are a C++ library (liblumbra, with headers,
a CMake package and pkg-config) and a Python module (import lumbra).]])
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION math)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET lumbra_python)
  execute_process(COMMAND ${PYTHON_EXECUTABLE} -c "import sys; print('%d.%d' % sys.version_info[:2], '%d.%d' % (sys.version_info[0], sys.version_info[1] + 1))"
    OUTPUT_VARIABLE python_versions OUTPUT_STRIP_TRAILING_WHITESPACE)
  separate_arguments(python_versions)
  list(GET python_versions 0 python_this)
  list(GET python_versions 1 python_next)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3 (>= ${python_this}), python3 (<< ${python_next})")
endif()
include(CPack)
