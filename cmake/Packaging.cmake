# What `cmake --install` puts beside the programs, and the Debian packages `make package` builds
# from it with CPack: korvowav-cli (the command-line program) and korvowav (the desktop
# program, which depends on korvowav-cli of the same version).
include(GNUInstallDirs)

set(KORVOWAV_PACKAGE_MAINTAINER "korvowav developers <korvowav@example.org>")
set(packagingDir ${CMAKE_BINARY_DIR}/packaging)

# Per package: its manual page (compressed, as Debian keeps them), copyright and changelog.
# Policy wants both under /usr/share/doc/PACKAGE. The changelog is dated by the commit, so
# that building the same commit again gives the same package.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(changelogEpoch $ENV{SOURCE_DATE_EPOCH})
elseif(GIT_FOUND AND EXISTS ${CMAKE_SOURCE_DIR}/.git)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                    OUTPUT_VARIABLE changelogEpoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT changelogEpoch)
    string(TIMESTAMP changelogEpoch "%s" UTC)
endif()
execute_process(COMMAND date -u -R -d @${changelogEpoch}
                OUTPUT_VARIABLE changelogDate OUTPUT_STRIP_TRAILING_WHITESPACE)
function(korvo_package_docs package component)
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KORVOWAV_PACKAGE_MAINTAINER})
    set(docDir ${packagingDir}/${package})
    configure_file(${CMAKE_SOURCE_DIR}/packaging/copyright ${docDir}/copyright @ONLY)
    configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${docDir}/changelog @ONLY)
    set(manPage ${CMAKE_SOURCE_DIR}/res/man/${package}.1)
    add_custom_command(
        OUTPUT ${docDir}/${package}.1.gz ${docDir}/changelog.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${manPage} ${docDir}/${package}.1
        COMMAND gzip -9 -n -f ${docDir}/${package}.1
        COMMAND gzip -9 -n -f -k ${docDir}/changelog
        DEPENDS ${manPage} ${docDir}/changelog
        COMMENT "Compressing the manual page and changelog of ${package}")
    add_custom_target(${package}-docs ALL
                      DEPENDS ${docDir}/${package}.1.gz ${docDir}/changelog.gz)
    install(FILES ${docDir}/${package}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT ${component})
    install(FILES ${docDir}/copyright ${docDir}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endfunction()

korvo_package_docs(korvowav-cli cli)
install(FILES ${CMAKE_SOURCE_DIR}/res/completion/korvowav-cli
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT cli)
set(CPACK_COMPONENTS_ALL cli)

if(KORVOWAV_GUI)
    korvo_package_docs(korvowav gui)
    # The menu entry, the icon and the software centre entry.
    install(FILES ${CMAKE_SOURCE_DIR}/res/korvowav.desktop
            DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT gui)
    install(FILES ${CMAKE_SOURCE_DIR}/res/korvowav.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT gui)
    install(FILES ${CMAKE_SOURCE_DIR}/res/korvowav-256.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
            RENAME korvowav.png COMPONENT gui)
    install(FILES ${CMAKE_SOURCE_DIR}/res/korvowav.metainfo.xml
            DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
            RENAME org.korvowav.korvowav.metainfo.xml COMPONENT gui)
    list(APPEND CPACK_COMPONENTS_ALL gui)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvowav)
set(CPACK_PACKAGE_VENDOR "the korvowav developers")
set(CPACK_PACKAGE_VERSION ${KORVOWAV_PACKAGE_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KORVOWAV_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# CPack puts CPACK_PACKAGE_DESCRIPTION_SUMMARY before every package's description unless it is
# CPack's own default; each package here has its own summary line, so the default stays.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")

set(CPACK_DEBIAN_CLI_PACKAGE_NAME korvowav-cli)
set(CPACK_DEBIAN_CLI_PACKAGE_SECTION sound)
set(CPACK_COMPONENT_CLI_DESCRIPTION
    "convert between recorder disk tracks and WAV/AIFF files
Reads the song data that an eight-track digital recorder keeps on its
removable FAT disk (a mounted disk, a disk image or a block device) and
exports its virtual tracks into WAV or AIFF files, bit-exact, imports wave
files into them and renames them. Nothing on the recorder disk is lost or
left half-written by a failure or Ctrl-C.
.
This package holds the command-line program korvowav-cli.")

set(CPACK_DEBIAN_GUI_PACKAGE_NAME korvowav)
set(CPACK_DEBIAN_GUI_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "korvowav-cli (= ${KORVOWAV_PACKAGE_VERSION})")
set(CPACK_COMPONENT_GUI_DESCRIPTION
    "convert between recorder disk tracks and WAV/AIFF files (desktop)
Picks a recorder disk, a song and one or two of its 64 virtual tracks in one
window and exports them into a wave file or imports a wave file into them;
virtual tracks are renamed in place.
.
This package holds the Qt desktop program korvowav and its menu entry.")

include(CPack)
