# Two layouts from one build.
#
# portable (what a plain `cmake --install` and the TGZ archive hold): a self-contained folder with
# the executable at its top, so that the settings file KVN.ini lives beside it wherever the folder
# is put; the icon, a desktop entry and a user unit that scripts in the folder point at it.
#
# system (`cmake --install --component system`, and the Debian package): the usual paths under the
# prefix, for a program that its users cannot write to; its settings go to ~/.config/korvani.
#
# The system rules are left out of a plain install, and cpack picks one layout per generator
# (cmake/KorvaniCPack.cmake): a component each, rather than a configure option, so that one build
# makes both the archive and the package.
set(pkg ${PROJECT_SOURCE_DIR}/packaging)
set(gen ${PROJECT_BINARY_DIR}/packaging)

install(TARGETS korvani RUNTIME DESTINATION . COMPONENT portable)
install(FILES ${PROJECT_SOURCE_DIR}/src/app/icons/korvani.svg DESTINATION . COMPONENT portable)
install(FILES ${pkg}/korvani.desktop.in ${pkg}/korvani.service.in DESTINATION share COMPONENT portable)
install(PROGRAMS ${pkg}/register-desktop-entry ${pkg}/register-user-service DESTINATION . COMPONENT portable)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . COMPONENT portable)
# The entry in the folder itself names the folder it was installed to. The archive has none: an
# unpacked or moved folder gets its entry from register-desktop-entry.
install(CODE [[
  if(NOT CMAKE_INSTALL_PREFIX MATCHES "/_CPack_Packages/")
    set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
    file(READ "${root}/share/korvani.desktop.in" entry)
    string(REPLACE "@KORVANI_EXEC@" "${CMAKE_INSTALL_PREFIX}/korvani" entry "${entry}")
    string(REPLACE "@KORVANI_ICON@" "${CMAKE_INSTALL_PREFIX}/korvani.svg" entry "${entry}")
    file(MAKE_DIRECTORY "${root}/share/applications")
    file(WRITE "${root}/share/applications/korvani.desktop" "${entry}")
  endif()
]] COMPONENT portable)

set(KORVANI_EXEC korvani)
set(KORVANI_ICON korvani)
configure_file(${pkg}/korvani.desktop.in ${gen}/korvani.desktop @ONLY)
# Debian wants manual pages and changelogs compressed, reproducibly.
foreach(doc korvani.1 changelog)
    add_custom_command(OUTPUT ${gen}/${doc}.gz
        COMMAND sh -c "gzip -9n < '${pkg}/${doc}' > '${gen}/${doc}.gz'"
        DEPENDS ${pkg}/${doc} VERBATIM)
endforeach()
add_custom_target(korvani_system_files ALL DEPENDS ${gen}/korvani.1.gz ${gen}/changelog.gz)

install(TARGETS korvani RUNTIME DESTINATION bin COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${gen}/korvani.desktop DESTINATION share/applications COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/src/app/icons/korvani.svg
    DESTINATION share/icons/hicolor/scalable/apps COMPONENT system EXCLUDE_FROM_ALL)
foreach(size 16x16 32x32 48x48)
    install(FILES ${pkg}/icons/${size}/korvani.png
        DESTINATION share/icons/hicolor/${size}/apps COMPONENT system EXCLUDE_FROM_ALL)
endforeach()
install(FILES ${pkg}/org.korvani.korvani.metainfo.xml DESTINATION share/metainfo COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${gen}/korvani.1.gz DESTINATION share/man/man1 COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${pkg}/copyright DESTINATION share/doc/korvani COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${pkg}/lintian-overrides DESTINATION share/lintian/overrides RENAME korvani
    COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${gen}/changelog.gz DESTINATION share/doc/korvani RENAME changelog.Debian.gz
    COMPONENT system EXCLUDE_FROM_ALL)
# The unit names the installed executable, which only the install step knows.
install(CODE "
  file(READ \"${pkg}/korvani.service.in\" unit)
  string(REPLACE \"@KORVANI_EXEC@\" \"\${CMAKE_INSTALL_PREFIX}/bin/korvani\" unit \"\${unit}\")
  file(WRITE \"${gen}/korvani.service\" \"\${unit}\")
" COMPONENT system EXCLUDE_FROM_ALL)
install(FILES ${gen}/korvani.service DESTINATION lib/systemd/user COMPONENT system EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME korvani)
set(CPACK_PACKAGE_VENDOR "Korvani")
set(KORVANI_PACKAGE_CONTACT "Korvani developers <korvani@example.org>" CACHE STRING
    "Maintainer of the Debian package")
set(CPACK_PACKAGE_CONTACT "${KORVANI_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Patrols web pages and mails the new lines that match")
set(CPACK_PACKAGE_DESCRIPTION "Korvani loads up to 100 web pages in turn on a timer, tests every line
of their visible text against up to 100 search conditions (words joined
for AND, a leading minus for NOT, regular expressions), and mails each
new matching line once. Links whose text matches can be followed one
level deep. It runs in its window or, without a desktop, as a systemd
user service.")
set(CPACK_GENERATOR TGZ)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_FILE_NAME "korvani-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not linked, so not found by dpkg-shlibdeps: the fonts the windows are laid out for. (The browser
# engine's helper process, libqt6webenginecore6-bin, comes with the engine library's shlibs.)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_KORVANI_BINARY_DIR ${PROJECT_BINARY_DIR})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/KorvaniCPack.cmake)
include(CPack)
