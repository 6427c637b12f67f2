# A Debian package of what `cmake --install` installs (scripts/package.sh,
# which also runs lintian on it). The libraries it links are found by
# dpkg-shlibdeps; the rest of its dependencies are what it runs or loads: the
# platform plugin Qt needs to show a window, ntfs-3g for formatting a drive
# before an apply, and Qt's translations for its own dialogs in Chinese.

# The package's documents: copyright, changelog and manual pages, compressed
# as Debian wants them (gzip -9n: no name, no time stamp).
set(PELLWICK_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/pellwick)
set(pellwick_gzipped)
foreach(source docs/man/pellwick.1 docs/man/pellwick-wim.1 cmake/debian/changelog)
    get_filename_component(name ${source} NAME)
    set(output ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
        COMMAND gzip -9n -c ${CMAKE_SOURCE_DIR}/${source} > ${output}
        DEPENDS ${CMAKE_SOURCE_DIR}/${source} VERBATIM)
    list(APPEND pellwick_gzipped ${output})
endforeach()
add_custom_target(pellwick_documents ALL DEPENDS ${pellwick_gzipped})
install(FILES ${CMAKE_BINARY_DIR}/packaging/pellwick.1.gz ${CMAKE_BINARY_DIR}/packaging/pellwick-wim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES cmake/debian/copyright DESTINATION ${PELLWICK_DOC_DIR})
# A native package (its packaging is part of the project): changelog.gz.
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${PELLWICK_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellwick)
set(CPACK_PACKAGE_VENDOR "Pellwick developers")
set(CPACK_PACKAGE_CONTACT "Pellwick developers <pellwick@example.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Pellwick developers <pellwick@example.org>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://pellwick.example.org/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "manage the images of Windows imaging archives")
# Lines of at most 80 characters, as Debian wants the extended description.
set(CPACK_PACKAGE_DESCRIPTION "Pellwick opens or creates a Windows imaging archive (WIM), opens ESD files
and split sets, and lists their images. It captures a folder or a drive into
a new image, applies an image to a folder or a drive (formatting it with NTFS
first when asked), exports, deletes and edits images, browses the files of an
image and extracts some of them, and splits, verifies and optimizes archives.
Its interface is in Simplified Chinese; archives are read and written by
wimlib, so other WIM tools open them.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, ntfs-3g, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, fonts-noto-cjk | fonts-wqy-microhei")
# Files and folders root-owned and of the usual modes, whoever builds.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
