# Read by cpack for each generator: the Debian package holds the system layout under /usr, every
# other generator the portable folder.
if(CPACK_GENERATOR STREQUAL "DEB")
    set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_KORVANI_BINARY_DIR};korvani;system;/")
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
    # The unit is written with the final prefix, not the staging folder.
    set(CPACK_SET_DESTDIR ON)
    set(CPACK_INSTALL_PREFIX /usr)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_STRIP_FILES ON)
else()
    set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_KORVANI_BINARY_DIR};korvani;portable;/")
endif()
