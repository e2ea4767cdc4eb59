# Installation and the Debian package: only the program and its desktop data
# go in; the libraries are static and the tools and tests stay in the build.
#   cmake --build <build> --target package  ->  netvane_<version>_<arch>.deb

include(GNUInstallDirs)

# The one application id: names the desktop entry, the icons and the
# metainfo, and is what the program reports to the desktop shell.
set(NETVANE_APP_ID io.github.netvane.Netvane)
set(NETVANE_DATA_DIR ${PROJECT_SOURCE_DIR}/data)

target_compile_definitions(netvane PRIVATE NETVANE_APP_ID="${NETVANE_APP_ID}")

install(TARGETS netvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${NETVANE_DATA_DIR}/${NETVANE_APP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${NETVANE_DATA_DIR}/${NETVANE_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${NETVANE_DATA_DIR}/icons/${NETVANE_APP_ID}.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${NETVANE_DATA_DIR}/icons/${size}x${size}/${NETVANE_APP_ID}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

set(NETVANE_PACKAGE_MAINTAINER "Netvane developers <netvane@example.org>"
  CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME netvane)
# The same number as the version record in the executable and the window title.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${NETVANE_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find LAN devices and change their network settings")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's texts are Simplified Chinese; without a CJK font they show as boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-microhei | fonts-wqy-zenhei")
# CPack puts the summary first, indents the lines and marks the blank ones.
set(CPACK_PACKAGE_DESCRIPTION
"Netvane is a desktop tool for network technicians. It finds devices on
the local network segment and lets you change one device's basic network
settings.

The Velanor tab searches with the PE protocol (UDP broadcast) and lists
each device's name, model, version, serial number and addresses; for one
device it sets the IP address, subnet mask and gateway, restarts it, shuts
it down or sets a new MAC address.

The ONVIF tab finds devices by WS-Discovery and lists their names,
addresses, endpoint UUIDs and service addresses. Either tab opens a
device's web page.")
include(CPack)
