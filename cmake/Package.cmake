# The Debian package: what `cmake --install` puts under the prefix, laid out under /usr.
#   cpack --config <build>/CPackConfig.cmake
# Library dependencies come from dpkg-shlibdeps; what Qt loads at run time without any scan
# seeing it is named here.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME taskvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Taskvane")
set(CPACK_PACKAGE_CONTACT "Taskvane <support@taskvane.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop task manager")
set(CPACK_PACKAGE_DESCRIPTION
    "Taskvane is a desktop task manager for Linux: processes, services, programs started at log-on, network endpoints and traffic, and system status.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded by Qt at run time, seen by no scan: the Chinese texts of the toolkit's own dialogs. (The
# X11 platform plugin lies in libqt6gui6 on Debian 12, which the scan finds through QtGui.)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
# Opening addresses and documents, file types in the details, and a font for the Chinese texts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, shared-mime-info, fonts-wqy-microhei | fonts-noto-cjk")
include(CPack)
