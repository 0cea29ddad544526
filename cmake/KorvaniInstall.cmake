# A self-contained folder: the executable at its top, so that the settings file KVN.ini lives
# beside it wherever the folder is put; the icon and a desktop entry for the application menu.
install(TARGETS korvani RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/src/app/icons/korvani.svg DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/korvani.desktop.in DESTINATION share)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/packaging/register-desktop-entry DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
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
]])

set(CPACK_PACKAGE_NAME korvani)
set(CPACK_PACKAGE_VENDOR "Korvani")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Patrols web pages and mails the new lines that match")
set(CPACK_GENERATOR TGZ)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_FILE_NAME "korvani-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
include(CPack)
