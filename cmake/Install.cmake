# What `cmake --install` puts where on a Linux desktop, and the Debian package
# made from it. The version, description and address all come from project().
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/DesktopFiles.cmake)

# AppStream wants a date for each release: the date of the commit built, or
# today's (SOURCE_DATE_EPOCH when set) outside a git checkout.
execute_process(COMMAND git log -1 --format=%cs
                WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                OUTPUT_VARIABLE QUELLMERE_RELEASE_DATE
                OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE gitStatus
                ERROR_QUIET)
if(NOT gitStatus EQUAL 0 OR QUELLMERE_RELEASE_DATE STREQUAL "")
  string(TIMESTAMP QUELLMERE_RELEASE_DATE "%Y-%m-%d" UTC)
endif()

configure_file(${QUELLMERE_DATA_DIR}/${QUELLMERE_APP_ID}.desktop.in ${QUELLMERE_DESKTOP_FILE} @ONLY)
configure_file(${QUELLMERE_DATA_DIR}/${QUELLMERE_APP_ID}.metainfo.xml.in ${QUELLMERE_METAINFO_FILE} @ONLY)
configure_file(${QUELLMERE_DATA_DIR}/quellmere-cli.1.in ${QUELLMERE_MAN_PAGE} @ONLY)

# The PNG icons are drawn from the one SVG at build time.
find_program(QUELLMERE_CONVERT convert REQUIRED)
set(iconPngs)
foreach(size IN LISTS QUELLMERE_ICON_SIZES)
  set(folder ${QUELLMERE_GENERATED_DATA_DIR}/icons/hicolor/${size}x${size}/apps)
  set(png ${folder}/${QUELLMERE_APP_ID}.png)
  # A high density first, so that small sizes are scaled down, not up; no
  # date chunks, so that the same SVG gives the same bytes.
  add_custom_command(OUTPUT ${png}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
                     COMMAND ${QUELLMERE_CONVERT} -background none -density 384 ${QUELLMERE_ICON_SVG}
                             -resize ${size}x${size} -define png:exclude-chunks=date,time png32:${png}
                     DEPENDS ${QUELLMERE_ICON_SVG}
                     COMMENT "Drawing the ${size}x${size} icon"
                     VERBATIM)
  list(APPEND iconPngs ${png})
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
add_custom_target(quellmere-icons ALL DEPENDS ${iconPngs})

install(TARGETS quellmere quellmere-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${QUELLMERE_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${QUELLMERE_DESKTOP_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QUELLMERE_METAINFO_FILE} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${QUELLMERE_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package; dpkg-shlibdeps works out the libraries it depends on.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quellmere)
set(CPACK_PACKAGE_VENDOR Quellmere)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PROJECT_DESCRIPTION})
# Lines as dpkg shows them: under 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "A window and a terminal program that hold one private conversation with\n"
    "file transfer over a direct TCP connection. The key exchange does not\n"
    "authenticate the peer: use it on trusted networks or inside an\n"
    "authenticating tunnel.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_HOMEPAGE_URL ${PROJECT_HOMEPAGE_URL})
set(CPACK_PACKAGE_CONTACT "Quellmere developers <quellmere@users.noreply.github.com>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PROJECT_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# cpack packs what is built and builds nothing itself: `make package` builds
# first, and the package test must not start a second, parallel build.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)
