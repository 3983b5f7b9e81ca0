# `make package`: a Debian package of what `cmake --install` puts in place.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Pelorin)
set(CPACK_PACKAGE_CONTACT "Quillon developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "catalogue of firms and the items they make and sell")
# Lines of the description as Debian shows them, each under 80 characters.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "Quillon keeps a small business's catalogue of firms and items on one desk:"
    "names, descriptions, addresses, phones, e-mail and web addresses of firms,"
    "names and descriptions of items, who makes and who sells each item, folders,"
    "two trees of firm and item types, and attached files searchable by their"
    "words. The interface is in Russian.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${QUILLON_WEB_ADDRESS})
# Shared libraries are found by dpkg-shlibdeps (Qt's X11 plugin comes with
# its GUI library). What the program reads without linking is named here:
# Qt's Russian texts for its buttons and dialogs, the metric twin of Arial
# that the windows are laid out in, the MIME database that gives attached
# files their types, and the icon theme the toolbar's pictures come from.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-translations-l10n, fonts-liberation, shared-mime-info, adwaita-icon-theme")
# The stock shell reads the table files; with the installed extension it can change them.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS sqlite3)

include(CPack)
