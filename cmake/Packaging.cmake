# The Linux installation and its Debian package (`make package`, CPack DEB):
# the programs in bin/, the device-protocol library in a private folder that
# the programs find through a relative RPATH (so the tree works wherever it is
# unpacked), the desktop entry, the icon and the AppStream metadata.
# The install rules of the programs themselves sit beside their targets.
if(NOT (UNIX AND NOT APPLE))
  return()
endif()

set(ORVEN_APP_ID com.orven.OrvenSetup)
set(ORVEN_PRIVATE_LIBDIR lib/orven-setup)
set(ORVEN_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(ORVEN_PACKAGE_CONTACT "orven-setup maintainers <maintainers@users.noreply.c-seed-05c0ac75.example>"
    CACHE STRING "Maintainer of the Debian package (name <address>)")

# The library's folder, seen from bin/.
foreach(program orven-setup orven-devsim orven-cli)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/../${ORVEN_PRIVATE_LIBDIR}")
  endif()
endforeach()

if(ORVENAPI3_LIBRARY)
  # The vendor's file and the chain of links that leads to it (one of them
  # may carry the name the programs ask the loader for); links stay links.
  set(library ${ORVENAPI3_LIBRARY})
  while(IS_SYMLINK ${library})
    install(FILES ${library} DESTINATION ${ORVEN_PRIVATE_LIBDIR})
    file(READ_SYMLINK ${library} target)
    if(NOT IS_ABSOLUTE ${target})
      get_filename_component(folder ${library} DIRECTORY)
      set(target ${folder}/${target})
    endif()
    set(library ${target})
  endwhile()
  install(FILES ${library} DESTINATION ${ORVEN_PRIVATE_LIBDIR})
else()
  install(TARGETS ORVENAPI3 LIBRARY DESTINATION ${ORVEN_PRIVATE_LIBDIR})
endif()

# The 48x48 icon is rendered from the SVG; the changelog and the manual pages
# are compressed as Debian expects them (maximum compression, no time stamp).
find_program(ORVEN_RSVG_CONVERT rsvg-convert)
if(NOT ORVEN_RSVG_CONVERT)
  message(FATAL_ERROR "rsvg-convert (Debian package librsvg2-bin) is needed to render the icon; 'make deps' installs it")
endif()
set(generated ${CMAKE_CURRENT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${generated})
add_custom_command(OUTPUT ${generated}/orven-setup.png
  COMMAND ${ORVEN_RSVG_CONVERT} -w 48 -h 48 -o ${generated}/orven-setup.png ${ORVEN_PACKAGING_DIR}/orven-setup.svg
  DEPENDS ${ORVEN_PACKAGING_DIR}/orven-setup.svg
  VERBATIM)
set(generated_files ${generated}/orven-setup.png)
foreach(name changelog orven-setup.1 orven-cli.1 orven-devsim.1)
  add_custom_command(OUTPUT ${generated}/${name}.gz
    COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" gzip ${ORVEN_PACKAGING_DIR}/${name} ${generated}/${name}.gz
    DEPENDS ${ORVEN_PACKAGING_DIR}/${name}
    VERBATIM)
  list(APPEND generated_files ${generated}/${name}.gz)
endforeach()
add_custom_target(orven_packaging_files ALL DEPENDS ${generated_files})

install(FILES ${ORVEN_PACKAGING_DIR}/${ORVEN_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${ORVEN_PACKAGING_DIR}/${ORVEN_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${ORVEN_PACKAGING_DIR}/orven-setup.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${generated}/orven-setup.png DESTINATION share/icons/hicolor/48x48/apps)
install(FILES ${ORVEN_PACKAGING_DIR}/copyright ${generated}/changelog.gz DESTINATION share/doc/orven-setup)
install(FILES ${generated}/orven-setup.1.gz ${generated}/orven-cli.1.gz DESTINATION share/man/man1)
if(NOT ORVENAPI3_LIBRARY)
  install(FILES ${generated}/orven-devsim.1.gz DESTINATION share/man/man1)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orven-setup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})  # all four parts
set(CPACK_PACKAGE_CONTACT "${ORVEN_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set up networked ORVEN field devices on site")
set(CPACK_PACKAGE_DESCRIPTION [[
A desktop tool (Simplified Chinese user interface) with which a technician
lists the ORVEN devices on the local network by their announcements, shows
and edits a device's network configuration and writes it back, confirmed by
the device's next announcement.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_CURRENT_BINARY_DIR}/orvenapi3)
# The window's Chinese texts need a font with the CJK glyphs.
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-wqy-zenhei)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
