# The authors' kit: orvane-zip for one authoring platform and the launchers of all four targets,
# as one archive made by CPack from the four build folders (cpack in build/native or
# build/win64 once build/native, build/win32, build/win64 and build/arm64 are built; scripts/test
# does so after its builds):
#   build/native  build/kit/orvane-kit-VERSION-linux-x86_64.tar.gz  (orvane-zip for Linux x86-64)
#   build/win64   build/kit/orvane-kit-VERSION-windows.zip          (orvane-zip.exe, 64-bit)
# holding orvane-zip at the top and launchers/TARGET/orvane[.exe], where `orvane-zip pack
# --target TARGET` and `--all` find them. Every build installs its own launcher (component
# launcher) and its orvane-zip (component tool); ORVANE_KIT_BUILDS names the launcher builds.
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(ORVANE_TARGET windows-x86)
  else()
    set(ORVANE_TARGET windows-x64)
  endif()
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(ORVANE_TARGET linux-arm64)
else()
  set(ORVANE_TARGET linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
if(TARGET orvane)
  install(TARGETS orvane RUNTIME DESTINATION launchers/${ORVANE_TARGET} COMPONENT launcher)
endif()
if(TARGET orvane-zip)
  install(TARGETS orvane-zip RUNTIME DESTINATION . COMPONENT tool)
endif()

if(ORVANE_TARGET STREQUAL "linux-x86_64" AND NOT ORVANE_SANITIZE AND NOT ORVANE_FUZZ)
  set(kit_platform linux-x86_64)
  set(CPACK_GENERATOR TGZ)
elseif(ORVANE_TARGET STREQUAL "windows-x64")
  set(kit_platform windows)
  set(CPACK_GENERATOR ZIP)
else()
  return()
endif()
set(ORVANE_KIT_BUILDS ${CMAKE_BINARY_DIR}/../win32 ${CMAKE_BINARY_DIR}/../win64 ${CMAKE_BINARY_DIR}/../native
    ${CMAKE_BINARY_DIR}/../arm64 CACHE STRING "The builds whose launchers the kit carries")
set(CPACK_INSTALL_CMAKE_PROJECTS)
foreach(build IN LISTS ORVANE_KIT_BUILDS)
  list(APPEND CPACK_INSTALL_CMAKE_PROJECTS ${build} orvane launcher /)
endforeach()
list(APPEND CPACK_INSTALL_CMAKE_PROJECTS ${CMAKE_BINARY_DIR} orvane tool /)
set(CPACK_PACKAGE_NAME orvane-kit)
set(CPACK_PACKAGE_FILE_NAME orvane-kit-${PROJECT_VERSION}-${kit_platform})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/../kit)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
