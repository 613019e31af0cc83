# The Debian package (`make deb`): what the host, the plug-in and the
# launcher install (their own CMakeLists), plus libcorvel in a private
# folder, the systemd unit and /etc/orvane/orvane.conf. Dependencies come
# from the shared libraries the programs link (dpkg-shlibdeps).

# libcorvel is the host's and the plug-in's alone: /usr/lib/orvane, found
# through their RUNPATHs.
install(TARGETS corvel LIBRARY DESTINATION lib/orvane NAMELINK_SKIP)
set_property(TARGET dapplinepro PROPERTY INSTALL_RPATH "$ORIGIN/..")

install(FILES ${CMAKE_CURRENT_LIST_DIR}/orvane.service DESTINATION lib/systemd/system)
install(FILES ${CMAKE_BINARY_DIR}/packaging/orvane.conf DESTINATION /etc/orvane)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Dappline developers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Dappline: share folders of this server over the web")
set(CPACK_PACKAGE_DESCRIPTION
  "orvane-host and its share-publishing plug-in, run as the systemd service orvane.service, with its settings in /etc/orvane/orvane.conf and its profile in /var/lib/orvane.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/package)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# kill for ExecReload; useradd for the service's user.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "procps, passwd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/conffiles ${CMAKE_CURRENT_LIST_DIR}/postinst
  ${CMAKE_CURRENT_LIST_DIR}/prerm ${CMAKE_CURRENT_LIST_DIR}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
