# The packages for users, made by cpack in a build folder:
# - Linux: a Debian package of the installed programs and their documentation
#   (packaging/debian/docs.cmake), with its run-time dependencies found by
#   dpkg-shlibdeps (from dpkg-dev);
# - Windows (the MinGW cross builds): a zip of tarnwick-update.exe (32-bit),
#   tarnwick-update-x64.exe (64-bit, from TARNWICK_WIN64_BUILD_DIR),
#   HOW-TO-UPDATE.txt and LICENSE.txt in one folder, each exe exactly as built
#   and tested;
# - the web build (Emscripten): a zip of the page's files in one folder, to be
#   served as static files.
set(CPACK_PACKAGE_NAME tarnwick)
# The Debian package's maintainer: a name and an address, as Debian wants it.
set(CPACK_PACKAGE_VENDOR "Tarnwick Box updater authors")
set(CPACK_PACKAGE_CONTACT "Tarnwick Box updater authors <tarnwick@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updater for the Tarnwick Box USB MIDI device")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})

if(EMSCRIPTEN)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tarnwick-update-${PROJECT_VERSION}-web)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
elseif(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tarnwick-update-${PROJECT_VERSION}-win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  if(TARNWICK_WIN64_BUILD_DIR)
    set(CPACK_INSTALL_CMAKE_PROJECTS
        "${PROJECT_BINARY_DIR};${PROJECT_NAME};ALL;/" "${TARNWICK_WIN64_BUILD_DIR};${PROJECT_NAME};ALL;/")
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The summary above is the first line; this is the text below it.
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "tarnwick-update loads a firmware kit into a Tarnwick Box over MIDI System\n"
      "Exclusive messages; tarnwick-kit builds and checks kits; tarnwick-target\n"
      "stands in for a Tarnwick Box on the MIDI system, for trying things out.")
  set(CPACK_STRIP_FILES ON)
endif()

include(CPack)
