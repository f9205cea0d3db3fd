# Installation layout and the Debian package (cpack -G DEB in the build folder,
# or scripts/package.sh). Everything the package carries is listed here.
include(GNUInstallDirs)

set(MIRELVA_PROGRAMS mirelva mirelva-node mirelva-svxlink mirelva-echolink)
foreach(program IN LISTS MIRELVA_PROGRAMS)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The browser module of the web tools window, loaded by the program from
# ../lib/mirelva beside its own folder.
install(TARGETS mirelva_webview LIBRARY DESTINATION lib/mirelva
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

set(pkg ${CMAKE_SOURCE_DIR}/packaging)
set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/mirelva)
install(FILES ${pkg}/mirelva.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${pkg}/org.mirelva.mirelva.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
install(FILES ${pkg}/mirelva.svg DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
install(FILES ${pkg}/mirelva-128.png RENAME mirelva.png
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/128x128/apps)
install(FILES ${pkg}/mirelva.service ${pkg}/mirelva-headless.service DESTINATION lib/systemd/user)
if(EXISTS ${pkg}/mirelva-svxlink.service)
  install(FILES ${pkg}/mirelva-svxlink.service DESTINATION lib/systemd/system)
endif()
if(TARGET mirelva-echolink)
  install(FILES ${pkg}/mirelva-echolink.service DESTINATION lib/systemd/system)
endif()

# Manual pages go in compressed, as Debian wants them.
file(GLOB manpages ${pkg}/man/*.1)
foreach(page IN LISTS manpages)
  get_filename_component(name ${page} NAME)
  set(gz ${CMAKE_BINARY_DIR}/man/${name}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9n -c ${page} > ${gz}
    DEPENDS ${page} VERBATIM)
  list(APPEND gz_pages ${gz})
  install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_target(manpages ALL DEPENDS ${gz_pages})

set(changelog_gz ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND gzip -9n -c ${pkg}/changelog > ${changelog_gz}
  DEPENDS ${pkg}/changelog VERBATIM)
add_custom_target(changelog ALL DEPENDS ${changelog_gz})
install(FILES ${changelog_gz} ${pkg}/copyright DESTINATION ${docdir})
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${docdir})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${docdir} FILES_MATCHING PATTERN "*.md" PATTERN "*.png")

# Examples and the bridge's Tcl hook, where an operator copies them from.
install(FILES ${pkg}/nodelink.ini.example DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mirelva/examples)
if(EXISTS ${CMAKE_SOURCE_DIR}/node/svxlink)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/node/svxlink/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mirelva/svxlink
          FILES_MATCHING PATTERN "*.tcl" PATTERN "*.conf" PATTERN "*.example")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mirelva)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Mirelva developers <mirelva@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "station announcer for an EchoLink node")
set(CPACK_PACKAGE_DESCRIPTION
"Mirelva sits beside an amateur-radio EchoLink node and runs the station's
announcements: it keys the transmitter around spoken idents, beacons, time
announcements and connect and disconnect announcements, sends Morse idents
and courtesy letters, silences itself on weekly schedules, drives a cooling
fan on a serial line, obeys DTMF codes from the air, joins nets on a weekly
schedule, greets connecting stations by chat and keeps a chat message box.
.
The package carries the announcer, a simulated node for trying it without a
radio, an EchoLink node of its own, and a bridge that
drives an SvxLink node.")
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Library dependencies come from what the programs actually link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The browser engine's helper process is in a package of its own, which the
# engine's library does not pull in. The voice opens espeak-ng and ALSA
# itself rather than linking them, so they are named here too.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libespeak-ng1, libasound2, espeak-ng-data, libqt6webenginecore6-bin")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "svxlink-server")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
