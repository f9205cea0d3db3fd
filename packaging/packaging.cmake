# Installation layout and the Debian package (cpack -G DEB in the build folder,
# or scripts/package.sh). Everything the package carries is listed here.
include(GNUInstallDirs)

# Five packages, as Debian splits a program: mirelva (the announcer), the
# web tools window's browser module on its own (mirelva-webview: Qt
# WebEngine, which a board with no screen does without), and each node
# program in its own (mirelva-node, mirelva-echolink, mirelva-svxlink), so a
# station installs what it runs. Each install() names its package.
set(MIRELVA_PROGRAM_PACKAGE_mirelva mirelva)
set(MIRELVA_PROGRAM_PACKAGE_mirelva-node node)
set(MIRELVA_PROGRAM_PACKAGE_mirelva-svxlink svxlink)
set(MIRELVA_PROGRAM_PACKAGE_mirelva-echolink echolink)
set(MIRELVA_PROGRAMS mirelva mirelva-node mirelva-svxlink mirelva-echolink)
set(MIRELVA_PACKAGES mirelva)
foreach(program IN LISTS MIRELVA_PROGRAMS)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
            COMPONENT ${MIRELVA_PROGRAM_PACKAGE_${program}})
    list(APPEND MIRELVA_PACKAGES ${MIRELVA_PROGRAM_PACKAGE_${program}})
  endif()
endforeach()
list(REMOVE_DUPLICATES MIRELVA_PACKAGES)
list(APPEND MIRELVA_PACKAGES webview)

# The browser module of the web tools window, loaded by the program from
# ../lib/mirelva beside its own folder.
install(TARGETS mirelva_webview LIBRARY DESTINATION lib/mirelva COMPONENT webview
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

set(pkg ${CMAKE_SOURCE_DIR}/packaging)
set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/mirelva)
install(FILES ${pkg}/mirelva.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications COMPONENT mirelva)
install(FILES ${pkg}/org.mirelva.mirelva.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo COMPONENT mirelva)
install(FILES ${pkg}/mirelva.svg DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps COMPONENT mirelva)
install(FILES ${pkg}/mirelva-128.png RENAME mirelva.png
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/128x128/apps COMPONENT mirelva)
install(FILES ${pkg}/mirelva.service ${pkg}/mirelva-headless.service DESTINATION lib/systemd/user COMPONENT mirelva)
if(TARGET mirelva-svxlink AND EXISTS ${pkg}/mirelva-svxlink.service)
  install(FILES ${pkg}/mirelva-svxlink.service DESTINATION lib/systemd/system COMPONENT svxlink)
endif()
if(TARGET mirelva-echolink)
  install(FILES ${pkg}/mirelva-echolink.service DESTINATION lib/systemd/system COMPONENT echolink)
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
  get_filename_component(program ${page} NAME_WE)
  if(DEFINED MIRELVA_PROGRAM_PACKAGE_${program} AND TARGET ${program})
    install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${MIRELVA_PROGRAM_PACKAGE_${program}})
  endif()
endforeach()
add_custom_target(manpages ALL DEPENDS ${gz_pages})

set(changelog_gz ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND gzip -9n -c ${pkg}/changelog > ${changelog_gz}
  DEPENDS ${pkg}/changelog VERBATIM)
add_custom_target(changelog ALL DEPENDS ${changelog_gz})
# Every package carries its own copyright and changelog, as Debian wants.
foreach(component IN LISTS MIRELVA_PACKAGES)
  if(component STREQUAL "mirelva")
    set(name mirelva)
  else()
    set(name mirelva-${component})
  endif()
  install(FILES ${changelog_gz} ${pkg}/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${name}
          COMPONENT ${component})
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${docdir} COMPONENT mirelva)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${docdir} COMPONENT mirelva
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png")

# Examples and the bridge's Tcl hook, where an operator copies them from.
install(FILES ${pkg}/nodelink.ini.example DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mirelva/examples COMPONENT mirelva)
if(TARGET mirelva-svxlink AND EXISTS ${CMAKE_SOURCE_DIR}/node/svxlink)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/node/svxlink/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/mirelva/svxlink
          COMPONENT svxlink FILES_MATCHING PATTERN "*.tcl" PATTERN "*.conf" PATTERN "*.example")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${MIRELVA_PACKAGES})
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_PACKAGE_NAME mirelva)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Mirelva developers <mirelva@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The packages are for the machine the programs are built for: a cross
# build's target (aarch64-linux-gnu is arm64, arm-linux-gnueabihf armhf),
# not the machine building them.
if(NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
  if(CMAKE_CROSSCOMPILING)
    execute_process(COMMAND dpkg-architecture -qDEB_HOST_ARCH -t${CMAKE_LIBRARY_ARCHITECTURE}
                    OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE OR NOT CMAKE_LIBRARY_ARCHITECTURE)
      message(FATAL_ERROR "no Debian architecture for the target '${CMAKE_LIBRARY_ARCHITECTURE}': "
                          "set CMAKE_LIBRARY_ARCHITECTURE in the toolchain file")
    endif()
  else()
    execute_process(COMMAND dpkg --print-architecture
                    OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Library dependencies come from what the programs actually link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(same "(= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_MIRELVA_PACKAGE_NAME mirelva)
set(CPACK_DEBIAN_MIRELVA_DESCRIPTION "station announcer for an EchoLink node
Mirelva sits beside an amateur-radio EchoLink node and runs the station's
announcements: it keys the transmitter around spoken idents, beacons, time
announcements and connect and disconnect announcements, sends Morse idents
and courtesy letters, silences itself on weekly schedules, drives a cooling
fan on a serial line, obeys DTMF codes from the air, joins nets on a weekly
schedule, greets connecting stations by chat and keeps a chat message box.
.
With --headless it runs with no screen and is driven from a browser through
its web console. The node it works with comes in a package of its own:
mirelva-echolink (its own EchoLink node), mirelva-svxlink (a bridge to an
SvxLink node) or mirelva-node (a simulated node for trying it out).")
# The voice opens espeak-ng and ALSA itself rather than linking them.
set(CPACK_DEBIAN_MIRELVA_PACKAGE_DEPENDS "libespeak-ng1, libasound2, espeak-ng-data")
set(CPACK_DEBIAN_MIRELVA_PACKAGE_RECOMMENDS "mirelva-webview ${same}")
set(CPACK_DEBIAN_MIRELVA_PACKAGE_SUGGESTS "mirelva-echolink | mirelva-svxlink | mirelva-node")

set(CPACK_DEBIAN_WEBVIEW_PACKAGE_NAME mirelva-webview)
set(CPACK_DEBIAN_WEBVIEW_DESCRIPTION "web tools window's browser for the Mirelva station announcer
The browser view of Mirelva's web tools window, built on Qt WebEngine and
loaded only when that window first shows a page. A station with no screen
(mirelva --headless) does not need it.")
# The browser engine's helper process is in a package of its own, which the
# engine's library does not pull in.
set(CPACK_DEBIAN_WEBVIEW_PACKAGE_DEPENDS "mirelva ${same}, libqt6webenginecore6-bin")
set(CPACK_DEBIAN_WEBVIEW_PACKAGE_ENHANCES "mirelva")

set(CPACK_DEBIAN_NODE_PACKAGE_NAME mirelva-node)
set(CPACK_DEBIAN_NODE_DESCRIPTION "simulated EchoLink node for trying the Mirelva announcer
mirelva-node behaves as a node would towards Mirelva: stations connect,
talk and send chat texts and DTMF codes from its console or standard input,
and it shows what Mirelva asks of it. For trying Mirelva out and for tests,
with no radio.")
set(CPACK_DEBIAN_NODE_PACKAGE_DEPENDS "libespeak-ng1, libasound2, espeak-ng-data")
set(CPACK_DEBIAN_NODE_PACKAGE_SUGGESTS "mirelva")

set(CPACK_DEBIAN_ECHOLINK_PACKAGE_NAME mirelva-echolink)
set(CPACK_DEBIAN_ECHOLINK_DESCRIPTION "EchoLink node for the Mirelva station announcer
mirelva-echolink is an EchoLink node of its own, with its own EchoLink
protocol and audio: it logs in to the directory, takes QSOs (checked against
the directory), joins its stations in a conference, keys the transmitter on a serial, GPIO or
CM108 line and serves Mirelva over a Unix or TCP socket. A system unit runs
it unattended.")
# The node speaks Mirelva's texts on its own sound card.
set(CPACK_DEBIAN_ECHOLINK_PACKAGE_DEPENDS "libespeak-ng1, libasound2, espeak-ng-data")
set(CPACK_DEBIAN_ECHOLINK_PACKAGE_SUGGESTS "mirelva")

set(CPACK_DEBIAN_SVXLINK_PACKAGE_NAME mirelva-svxlink)
set(CPACK_DEBIAN_SVXLINK_DESCRIPTION "SvxLink bridge for the Mirelva station announcer
mirelva-svxlink lets Mirelva run beside an SvxLink node: it reads the
node's events through a Tcl hook and drives it for Mirelva over a Unix or
TCP socket. A system unit runs it unattended.")
set(CPACK_DEBIAN_SVXLINK_PACKAGE_DEPENDS "libespeak-ng1, libasound2, espeak-ng-data")
set(CPACK_DEBIAN_SVXLINK_PACKAGE_SUGGESTS "mirelva, svxlink-server")
include(CPack)
