# What `cmake --install` lays out and how CPack makes the Debian package of it.
# Only the installed flavour of the program is installed.
include(GNUInstallDirs)

set(OSTREL_DIST ${CMAKE_SOURCE_DIR}/dist)
set(OSTREL_DIST_OUT ${CMAKE_BINARY_DIR}/dist)

configure_file(${OSTREL_DIST}/ostrel.desktop.in ${OSTREL_DIST_OUT}/${OSTREL_APP_ID}.desktop @ONLY)

# The AppStream data names the web page and its screenshots only when the
# build was given one (OSTREL_HOMEPAGE): an address that leads nowhere fails
# its validation.
set(OSTREL_METAINFO_HOMEPAGE "")
set(OSTREL_METAINFO_SCREENSHOTS "")
if(OSTREL_HOMEPAGE)
    string(REPLACE "&" "&amp;" site "${OSTREL_HOMEPAGE}")
    if(NOT site MATCHES "/$")
        string(APPEND site "/")
    endif()
    set(OSTREL_METAINFO_HOMEPAGE "\n  <url type=\"homepage\">${site}</url>")
    set(shots
        "tray_menu|The tray menu: a left or right press on the icon opens it"
        "nota_form|Popups at the bottom right: new mail, and a message matching a search word"
        "remetentes|The senders of the new messages"
        "form9|The accounts editor, where passwords never show in the list"
        "general_form|The options: minutes between checks, start at log-on"
        "menu1|The log viewer")
    set(type " type=\"default\"")
    foreach(shot ${shots})
        string(REPLACE "|" ";" shot "${shot}")
        list(GET shot 0 picture)
        list(GET shot 1 caption)
        string(APPEND OSTREL_METAINFO_SCREENSHOTS "\n    <screenshot${type}>"
            "\n      <caption>${caption}</caption>"
            "\n      <image>${site}docs/${picture}.png</image>\n    </screenshot>")
        set(type "")
    endforeach()
    set(OSTREL_METAINFO_SCREENSHOTS
        "\n  <screenshots>${OSTREL_METAINFO_SCREENSHOTS}\n  </screenshots>")
    set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${OSTREL_HOMEPAGE}")
endif()
configure_file(${OSTREL_DIST}/ostrel.metainfo.xml.in
    ${OSTREL_DIST_OUT}/${OSTREL_APP_ID}.metainfo.xml @ONLY)

# Debian wants the man page and the changelog compressed, reproducibly (-n).
foreach(doc ostrel.1 changelog)
    add_custom_command(OUTPUT ${OSTREL_DIST_OUT}/${doc}.gz
        COMMAND gzip -9nc ${OSTREL_DIST}/${doc} > ${OSTREL_DIST_OUT}/${doc}.gz
        DEPENDS ${OSTREL_DIST}/${doc} VERBATIM)
    list(APPEND OSTREL_COMPRESSED_DOCS ${OSTREL_DIST_OUT}/${doc}.gz)
endforeach()
add_custom_target(ostrel_docs ALL DEPENDS ${OSTREL_COMPRESSED_DOCS})

# The hardening Debian builds programs with: fortified libc calls where the
# code is optimised, and a read-only symbol table resolved at start.
if(NOT OSTREL_SANITIZE)
    foreach(target ${OSTREL_LIBRARIES} ostrel_installed)
        target_compile_definitions(${target} PRIVATE
            $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
    endforeach()
endif()
target_link_options(ostrel_installed PRIVATE LINKER:-z,relro,-z,now)

install(TARGETS ostrel_installed RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${OSTREL_DIST_OUT}/${OSTREL_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${OSTREL_DIST_OUT}/${OSTREL_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/assets/icons/ostrel.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME ${OSTREL_APP_ID}.svg)
foreach(size 16 24 32 48 64 128 256)
    install(FILES ${CMAKE_SOURCE_DIR}/assets/icons/ostrel-${size}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
        RENAME ${OSTREL_APP_ID}.png)
endforeach()
install(FILES ${OSTREL_DIST_OUT}/ostrel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${OSTREL_DIST}/copyright ${OSTREL_DIST_OUT}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ostrel)
# What Help opens. Not under share/doc, which minimal systems leave out.
install(FILES ${OSTREL_DIST}/help.html DESTINATION ${CMAKE_INSTALL_DATADIR}/ostrel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VENDOR "Ostrel maintainers")
set(CPACK_PACKAGE_CONTACT "Ostrel maintainers <maintainers@ostrel.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mail watcher for POP3 mailboxes in the system tray")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The library dependencies come from dpkg-shlibdeps; the platform plugins
# (X11, offscreen) are a package of their own that nothing else pulls in.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# QtKeychain loads libsecret at run time, which dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libsecret-1-0")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Ostrel lives as one icon in the system tray and visits a list of POP3
mailboxes on a schedule. It reads only the headers of waiting messages:
nothing is downloaded whole or deleted. It tells about new mail, or about
messages whose sender or subject hold one of an account's search words, in
small always-on-top popups at the bottom right of the screen.")
include(CPack)
