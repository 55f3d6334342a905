# What ships on POSIX is one static-pie executable: no shared library, no interpreter, no data
# file at run time (libstdc++, libgcc, zlib, libdeflate and expat linked in). ORVANE_STATIC
# (default on, but not for the sanitizer and fuzz builds, which need the shared runtimes) makes
# find_library find static archives only, and orvane_static_program(TARGET) links a program so:
# the launcher, orvane-zip and the programs tests run where nothing else is. GoogleTest programs
# stay dynamic: libgtest's streaming listener calls getaddrinfo, which a static program can use
# only with the shared libraries of the glibc it was linked with (the linker warns).
#
# Orvane::expat: expat for reading XML on POSIX (libexpat1-dev; for a cross build, the target's
# own from its sysroot), static in a static build.
if(WIN32)
  function(orvane_static_program target)
  endfunction()
  return()
endif()
if(ORVANE_SANITIZE OR ORVANE_FUZZ)
  set(static_default OFF)
else()
  set(static_default ON)
endif()
option(ORVANE_STATIC "Link every POSIX program as one static-pie executable" ${static_default})
if(ORVANE_STATIC)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
function(orvane_static_program target)
  if(ORVANE_STATIC)
    target_link_options(${target} PRIVATE -static-pie)
  endif()
endfunction()

find_path(ORVANE_EXPAT_INCLUDE_DIR expat.h)
find_library(ORVANE_EXPAT_LIBRARY expat)
if(ORVANE_EXPAT_INCLUDE_DIR AND ORVANE_EXPAT_LIBRARY)
  add_library(Orvane::expat UNKNOWN IMPORTED)
  set_target_properties(Orvane::expat PROPERTIES IMPORTED_LOCATION ${ORVANE_EXPAT_LIBRARY}
                        INTERFACE_INCLUDE_DIRECTORIES ${ORVANE_EXPAT_INCLUDE_DIR})
endif()
