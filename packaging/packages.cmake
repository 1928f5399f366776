# The Debian packages, made by CPack from the install rules of the `client`
# and `app` components. dpkg-shlibdeps computes each package's library
# dependencies from the installed programs, so whatever the app links is
# declared without a word here; only programs that the app runs are named.
set(CPACK_GENERATOR DEB)
set(CPACK_SOURCE_GENERATOR "")
set(CPACK_PACKAGE_NAME vistrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The vistrel developers")
set(CPACK_PACKAGE_CONTACT ${VISTREL_MAINTAINER})
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL client)
if(TARGET vistrel-app)
  list(APPEND CPACK_COMPONENTS_ALL app)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VISTREL_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(vistrel_client_summary "eyes for an AI agent: photos, screenshots and recordings")
set(vistrel_client_text
  "vistrel asks the Vistrel app on the same machine (package vistrel-app) to
take a webcam photo, focus a lens, capture or record the screen, or fetch a
frame from a phone or IP camera, and writes the JPEG, WebM or MP4 bytes to a
file. It also lists devices and camera controls, sets a control and manages
network cameras. One process per command, no state, exit status 0 or 1.")
if(TARGET vistrel-mcp)
  string(APPEND vistrel_client_text "
.
vistrel-mcp offers the same abilities to AI agents as Model Context Protocol
tools, so that they see pictures inline.")
endif()
set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME vistrel)
set(CPACK_DEBIAN_CLIENT_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_CLIENT_DESCRIPTION "${vistrel_client_summary}\n${vistrel_client_text}")
set(CPACK_DEBIAN_CLIENT_PACKAGE_SUGGESTS vistrel-app)

set(CPACK_DEBIAN_APP_PACKAGE_NAME vistrel-app)
set(CPACK_DEBIAN_APP_PACKAGE_SECTION video)
set(CPACK_DEBIAN_APP_DESCRIPTION "companion app of vistrel: cameras and the screen over local HTTP
vistrel-app serves a camera, the screen (X11 or Wayland), screen recordings
and registered network cameras over HTTP on 127.0.0.1, for the vistrel client
and its MCP server. Its autofocus sweeps the lens and locks the sharpest
position.
.
A systemd user unit runs it inside the graphical session:
systemctl --user enable --now vistrel-app")
# Programs it runs, which no library link reveals.
set(CPACK_DEBIAN_APP_PACKAGE_DEPENDS ffmpeg)
set(CPACK_DEBIAN_APP_PACKAGE_RECOMMENDS vistrel)
# On GNOME and KDE the screen is only reached through the desktop portal.
set(CPACK_DEBIAN_APP_PACKAGE_SUGGESTS xdg-desktop-portal)

include(CPack)
