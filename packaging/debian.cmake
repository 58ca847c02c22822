# SPDX-License-Identifier: GPL-3.0-or-later
# `cpack -G DEB` in the build folder makes a Debian package of what `cmake --install` installs.
set(CPACK_PACKAGE_NAME vantrel-monitor)
set(CPACK_PACKAGE_VENDOR "Orrimbel Studio")
set(CPACK_PACKAGE_CONTACT "Orrimbel Studio <vantrel@orrimbel-studio.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "watches web pages for links whose text contains a keyword")
set(CPACK_PACKAGE_DESCRIPTION "Vantrel Monitor keeps, for each task, the links of a web page whose text \
contains a keyword, checks the page again in the background whenever the task falls due and announces new \
results.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://www.orrimbel-studio.example/index.html")
# Libraries the binary links come from dpkg-shlibdeps; the SQLite driver and the platform plugins are
# loaded at run time, so Debian's Qt packages only recommend them: they are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "dbus-user-session")
set(CPACK_GENERATOR DEB)
# Two packages: the program, and the page renderer in a package of its own (install component "render"),
# so a user whose pages need no scripts does not install the browser engine. The program recommends it.
if(VANTREL_BUILD_RENDER)
    set(CPACK_DEB_COMPONENT_INSTALL ON)
    set(CPACK_COMPONENTS_ALL Unspecified render)
    set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME vantrel-monitor)
    set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_RECOMMENDS "dbus-user-session, vantrel-monitor-render")
    unset(CPACK_DEBIAN_PACKAGE_RECOMMENDS) # the renderer needs no desktop session bus
    set(CPACK_DEBIAN_RENDER_PACKAGE_NAME vantrel-monitor-render)
    set(CPACK_DEBIAN_RENDER_PACKAGE_SECTION web)
    # The WebEngine libraries come from dpkg-shlibdeps; the engine's page process (QtWebEngineProcess) is
    # started, not linked, so its package is named. The offscreen platform it runs on is in libqt6gui6.
    set(CPACK_DEBIAN_RENDER_PACKAGE_DEPENDS "libqt6webenginecore6-bin")
    set(CPACK_DEBIAN_RENDER_DESCRIPTION "page renderer for Vantrel Monitor
vantrel-render loads pages in Qt WebEngine, several at once, runs their scripts and hands the documents they built to \
Vantrel Monitor, for tasks whose pages build their links with scripts.")
endif()
include(CPack)
