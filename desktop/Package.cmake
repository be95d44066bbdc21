# `cpack -G DEB` in the build folder makes corvanta-viewer_VERSION_ARCH.deb.
# dpkg-shlibdeps finds the libraries the programs link (Qt 6 WebEngine
# widgets, Qt Pdf, qpdf, ...); the list below adds what they use at run time
# without linking it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvanta-viewer)
set(CPACK_PACKAGE_VENDOR Corvanta)
set(CPACK_PACKAGE_CONTACT "Corvanta Team <welcome@corvanta.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer for stored e-mail messages (.eml files)")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://corvanta.example/)
# The first line of the control file's Description is the summary above.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[Corvanta Quick e-Mail Viewer opens one stored e-mail message, as mail
programs save it in .eml files, when it is double-clicked in the file
manager. It shows the date, the sender, the To recipients and the subject
above the rendered message, lists, saves and opens the attachments, and
prints the message with a header block. HTML is shown by Qt WebEngine with
scripts, plug-ins and local file access off.
.
The package also contains corvanta-eml, a command-line tool that prints a
message's fields and attachments as text or JSON, extracts attachments and
builds new messages.]=])
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# qt6-qpa-plugins: the X11 and Wayland platform plug-ins, only recommended by
# Qt's own packages; media-types: /etc/mime.types for attachment types;
# xdg-utils: opening attachments and links; hicolor-icon-theme: the theme the
# icon is installed into.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, media-types, xdg-utils, hicolor-icon-theme")
# gpgsm and gpg-agent: checking S/MIME signatures and decrypting (gpg comes
# with GPGME's own dependencies).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils, fonts-noto-color-emoji, gpgsm, gpg-agent")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst
    ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
