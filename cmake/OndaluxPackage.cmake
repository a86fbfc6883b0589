# The Debian package of the installed programs (scripts/package builds it).
set(CPACK_PACKAGE_NAME ondalux)
set(CPACK_PACKAGE_VENDOR "Ondalux")
set(CPACK_PACKAGE_CONTACT "Ondalux developers <radio@ondalux.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Internet radio receiver")
set(CPACK_PACKAGE_DESCRIPTION
    "Ondalux plays internet radio stations (HTTP/ICY and HLS streams, .pls and\n"
    ".m3u links), with a hundred preset stations, three pictures of the sound\n"
    "and a listening log. Its interface is in Russian.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://ondalux.example/")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# The libraries the programs load, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/sonivex)
# The sound device is opened through SDL at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsdl2-2.0-0")
include(CPack)
