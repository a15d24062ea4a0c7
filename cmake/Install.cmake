# Installation: the executables, the help document, the desktop entry, the metadata,
# the icons, the manual pages and the endpoint's user service, and a Debian package of them (cpack -G DEB).
include(GNUInstallDirs)

set(QB_APP_ID org.quillberry.Quillberry)
set(QB_LINUX_DIR ${CMAKE_SOURCE_DIR}/res/linux)
set(QB_GEN_DIR ${CMAKE_BINARY_DIR}/install-files)
# The program finds its help document in share/quillberry beside its bin/.
set(QB_SHARE_DIR ${CMAKE_INSTALL_DATADIR}/quillberry)
set(QB_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/quillberry)

install(TARGETS quillberry quillberry-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/res/help/QuillberryHelp.html DESTINATION ${QB_SHARE_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/res/help/QuillberryHelp.en.html DESTINATION ${QB_SHARE_DIR})
install(FILES ${QB_LINUX_DIR}/${QB_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QB_LINUX_DIR}/${QB_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/res/icons/app.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${QB_APP_ID}.svg)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${QB_DOC_DIR})
# The endpoint as a service of the user's session (systemctl --user).
install(FILES ${CMAKE_SOURCE_DIR}/packaging/systemd/quillberry-serve.service DESTINATION lib/systemd/user)
# The repair of a stale system proxy at log-in, for those who do not start the window then.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/systemd/quillberry-repair.service DESTINATION lib/systemd/user)
# The list refreshed on a timer (download, verification, history), off until the user
# enables the timer.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/systemd/quillberry-refresh.service
              ${CMAKE_SOURCE_DIR}/packaging/systemd/quillberry-refresh.timer DESTINATION lib/systemd/user)

set(QB_GENERATED)

# The theme's bitmaps are made from the one drawing at build time.
find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
  foreach(size 16 22 24 32 48 64 128 256)
    set(png ${QB_GEN_DIR}/icons/${size}x${size}/${QB_APP_ID}.png)
    add_custom_command(
      OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${QB_GEN_DIR}/icons/${size}x${size}
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${CMAKE_SOURCE_DIR}/res/icons/app.svg
      DEPENDS ${CMAKE_SOURCE_DIR}/res/icons/app.svg
      VERBATIM)
    list(APPEND QB_GENERATED ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
else()
  message(WARNING "rsvg-convert not found: the bitmap icons are not made (install librsvg2-bin)")
endif()

# The manual pages are made from the executables' own --help texts, so that they
# cannot drift apart; the files and the environment come from one page of their own.
find_package(Python3 COMPONENTS Interpreter)
find_program(GZIP gzip REQUIRED)
if(Python3_FOUND)
  foreach(program quillberry quillberry-cli)
    set(page ${QB_GEN_DIR}/man/${program}.1)
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${QB_GEN_DIR}/man
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/make-manpage.py --program $<TARGET_FILE:${program}>
              --name ${program} --version ${PROJECT_VERSION} --common ${CMAKE_SOURCE_DIR}/docs/man/common.man
              --output ${page}
      COMMAND ${GZIP} -9nf ${page}
      DEPENDS ${program} ${CMAKE_SOURCE_DIR}/scripts/make-manpage.py ${CMAKE_SOURCE_DIR}/docs/man/common.man
      VERBATIM)
    list(APPEND QB_GENERATED ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
else()
  message(WARNING "python3 not found: the manual pages are not made")
endif()

add_custom_command(
  OUTPUT ${QB_GEN_DIR}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QB_GEN_DIR}
  COMMAND ${GZIP} -9nc ${CMAKE_SOURCE_DIR}/packaging/changelog > ${QB_GEN_DIR}/changelog.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog)
list(APPEND QB_GENERATED ${QB_GEN_DIR}/changelog.gz)
install(FILES ${QB_GEN_DIR}/changelog.gz DESTINATION ${QB_DOC_DIR})

add_custom_target(quillberry_install_files ALL DEPENDS ${QB_GENERATED})

# The Debian package. Its dependencies are read off the executables (dpkg-shlibdeps);
# what they load at run time without linking it is named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillberry)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quillberry developers")
set(CPACK_PACKAGE_CONTACT "The Quillberry developers <developers@quillberry.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "gather, verify and switch public proxy servers")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillberry keeps one list of public proxy servers (HTTP, HTTPS, SOCKS4,
SOCKS5, FTP, GOPHER), gathers new ones from text files, web pages and the
clipboard, verifies them with up to 100 concurrent workers, sorts them by
speed and makes any of them the desktop's system proxy, directly or through
an auto-config script, from a tray menu. A command line does the same jobs
for scripts. The interface speaks Simplified Chinese and English, following
the desktop's language. Free software under GPL-3.0-or-later.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quillberry.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libcurl is loaded when first used, not linked, so the computed dependencies miss it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libcurl4 (>= 7.88), qt6-qpa-plugins, libqt6svg6, qt6-translations-l10n, gsettings-desktop-schemas")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, geoip-database")
include(CPack)
