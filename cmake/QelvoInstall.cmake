# What an install holds besides the programs and bundles: the man page of
# qelvo (written from its own help text at build time), bash completion, the
# example maps and recording, the documentation; and the Debian package.
# Layout and relocation: docs/bundles.md.
set(QELVO_DOC_INSTALL_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/qelvo)
set(QELVO_DATA_INSTALL_DIR ${CMAKE_INSTALL_DATAROOTDIR}/qelvo)

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${QELVO_DOC_INSTALL_DIR})
file(GLOB QELVO_DOCS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES ${QELVO_DOCS} DESTINATION ${QELVO_DOC_INSTALL_DIR}/docs)
file(GLOB QELVO_EXAMPLES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/examples/*.map ${PROJECT_SOURCE_DIR}/examples/*.csv
     ${PROJECT_SOURCE_DIR}/examples/README.md)
install(FILES ${QELVO_EXAMPLES} DESTINATION ${QELVO_DATA_INSTALL_DIR}/examples)
install(FILES ${PROJECT_SOURCE_DIR}/tools/share/qelvo-completion.bash
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME qelvo)

# The man page runs the built program, which instrumented builds are not
# made for; they are never installed.
find_program(HELP2MAN help2man)
if(TARGET qelvo AND HELP2MAN AND NOT QELVO_SANITIZE AND NOT QELVO_TSAN)
  set(QELVO_MAN_PAGE ${PROJECT_BINARY_DIR}/man/qelvo.1)
  add_custom_command(
    OUTPUT ${QELVO_MAN_PAGE} ${QELVO_MAN_PAGE}.gz
    COMMAND ${CMAKE_COMMAND} -DQELVO=$<TARGET_FILE:qelvo> -DHELP2MAN=${HELP2MAN} -DVERSION=${PROJECT_VERSION}
            -DEXTRA=${PROJECT_SOURCE_DIR}/tools/share/qelvo.h2m -DOUT=${QELVO_MAN_PAGE}
            -P ${PROJECT_SOURCE_DIR}/cmake/QelvoManPage.cmake
    DEPENDS qelvo ${PROJECT_SOURCE_DIR}/cmake/QelvoManPage.cmake ${PROJECT_SOURCE_DIR}/tools/share/qelvo.h2m
    COMMENT "Man page of qelvo from its help text")
  add_custom_target(qelvo_man ALL DEPENDS ${QELVO_MAN_PAGE}.gz)
  install(FILES ${QELVO_MAN_PAGE}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
elseif(TARGET qelvo AND NOT QELVO_SANITIZE AND NOT QELVO_TSAN)
  message(STATUS "No man page for qelvo (needs help2man; scripts/deps.sh installs it)")
endif()

# cpack -G DEB: qelvo_<version>_amd64.deb, installed under /usr. Every file
# finds the others relative to itself, so the package needs no ldconfig and
# the same build installs anywhere else too.
set(CPACK_PACKAGE_NAME qelvo)
set(CPACK_PACKAGE_VENDOR Qelvo)
set(CPACK_PACKAGE_CONTACT "Qelvo developers <dev@qelvo.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "audio filters that follow brain-wave levels, native and LV2")
list(LENGTH QELVO_DELIVERABLES plugin_count)
set(CPACK_PACKAGE_DESCRIPTION
    "${plugin_count} audio-effect plug-ins whose low-pass cutoff or output gain follows a listener's brain-wave levels, \
posted on the session bus by an analyser; as native bundles and as LV2 plug-ins (in /usr/lib/lv2), with \
the host program qelvo (render, demo, info, bus tools, OSC bridge).")
set(CPACK_PACKAGE_HOMEPAGE_URL https://qelvo.org)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
# Shared libraries from dpkg-shlibdeps; the bus commands need a session bus.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS dbus)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "jalv, lilv-utils")
include(CPack)
