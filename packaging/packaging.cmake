# Installing the program as a desktop application (cmake --install) and
# packaging it as a Debian package (cpack -G DEB).
#
# The libraries are private to the program: they go to lib/omail beside no
# other package's files, and the binaries find them through a run path
# relative to themselves, so an installed tree can be moved as a whole.
include(GNUInstallDirs)

set(OMAIL_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/omail)
set(OMAIL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/omail)
set(OMAIL_APP_ID org.orrindel.mail)
set(OMAIL_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})

set(omail_libraries platform torvakit netwire whoprobe)
set_target_properties(${omail_libraries} PROPERTIES INSTALL_RPATH "$ORIGIN")
set_target_properties(omail PROPERTIES INSTALL_RPATH "$ORIGIN/../${OMAIL_PRIVATE_LIBDIR}")

install(TARGETS omail RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ${omail_libraries} LIBRARY DESTINATION ${OMAIL_PRIVATE_LIBDIR} NAMELINK_SKIP)

install(FILES ${OMAIL_PACKAGING_DIR}/${OMAIL_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${OMAIL_PACKAGING_DIR}/${OMAIL_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${OMAIL_PACKAGING_DIR}/${OMAIL_APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/app/ui/help/mail.md ${OMAIL_PACKAGING_DIR}/copyright DESTINATION ${OMAIL_DOCDIR})

# Manual page and changelog are installed compressed, as Debian expects;
# gzip -n keeps the result the same from build to build.
set(omail_gz ${CMAKE_BINARY_DIR}/packaging)
add_custom_command(OUTPUT ${omail_gz}/omail.1.gz ${omail_gz}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${omail_gz}
    COMMAND sh -c "gzip -9n < '${OMAIL_PACKAGING_DIR}/omail.1' > '${omail_gz}/omail.1.gz'"
    COMMAND sh -c "gzip -9n < '${OMAIL_PACKAGING_DIR}/changelog' > '${omail_gz}/changelog.gz'"
    DEPENDS ${OMAIL_PACKAGING_DIR}/omail.1 ${OMAIL_PACKAGING_DIR}/changelog VERBATIM)
add_custom_target(omail_compressed_docs ALL DEPENDS ${omail_gz}/omail.1.gz ${omail_gz}/changelog.gz)
install(FILES ${omail_gz}/omail.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${omail_gz}/changelog.gz DESTINATION ${OMAIL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME omail)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The orrindel mail developers <maintainers@orrindel.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop mail and news client")
set(CPACK_PACKAGE_DESCRIPTION "orrindel mail composes, sends (SMTP), retrieves (POP3), reads, files,
decodes and prints e-mail, and lists, subscribes to, retrieves and posts
Usenet news (NNTP), keeping everything in plain files in one data directory.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies come from the binaries' shared libraries, never from a
# list kept by hand; our own libraries are found in the private directory.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# (dpkg-shlibdeps runs in the staging directory: the path is relative to it.)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS usr/${OMAIL_PRIVATE_LIBDIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# The one thing no library shows: Qt loads the plugin that talks to the X
# server or the Wayland compositor at run time, and without it no window
# opens. (The libraries' dependencies are added to this.)
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
