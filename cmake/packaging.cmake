# A Debian package of what `cmake --install` installs (scripts/package.sh).
# Its dependencies are the runtime packages: the libraries the program links,
# the platform plugin Qt needs to show a window, ntfs-3g for formatting a
# drive before an apply, and Qt's translations for its own dialogs in Chinese.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellwick)
set(CPACK_PACKAGE_VENDOR "Pellwick developers")
set(CPACK_PACKAGE_CONTACT "Pellwick developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Manage the images of Windows imaging archives (.wim)")
set(CPACK_PACKAGE_DESCRIPTION
    "Pellwick opens or creates a Windows imaging archive and lists its images. It captures a folder into a new image, applies an image to a folder or a drive, exports, deletes and edits images. Its interface is in Simplified Chinese; archives are read and written by wimlib.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libwim15 (>= 1.13), libhivex0, libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), qt6-qpa-plugins, ntfs-3g, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, fonts-wqy-microhei | fonts-noto-cjk")
include(CPack)
