# The install, run from the installed files alone: at any prefix, with
# DESTDIR, one LV2 bundle copied alone, and as the Debian package. Also the
# man page and the bash completion. Distribution hosts cannot load sanitizer
# builds, which are never installed anyway.
if(QELVO_LV2_BUNDLES AND TARGET qelvo AND NOT QELVO_SANITIZE AND NOT QELVO_TSAN)
  find_program(LV2LS lv2ls)
  find_program(LV2APPLY lv2apply)
  find_program(JALV jalv)
  if(LV2LS AND LV2APPLY AND JALV)
    add_test(NAME install_relocatable
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install/install_test.sh ${PROJECT_BINARY_DIR}
                     ${PROJECT_SOURCE_DIR} ${QELVO_DELIVERABLES})
    set_tests_properties(install_relocatable PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
  endif()
endif()

find_program(DPKG_DEB dpkg-deb)
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(QELVO_LV2_BUNDLES AND TARGET qelvo AND TARGET qelvo_man AND NOT QELVO_SANITIZE AND NOT QELVO_TSAN
   AND DPKG_DEB AND DPKG_SHLIBDEPS AND LV2LS AND LV2APPLY AND JALV)
  add_test(NAME install_debian_package
           COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install/package_test.sh ${PROJECT_BINARY_DIR}
                   ${PROJECT_SOURCE_DIR} ${PROJECT_VERSION} ${QELVO_DELIVERABLES})
  set_tests_properties(install_debian_package PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
endif()

if(TARGET qelvo_man)
  find_program(GROFF groff)
  if(GROFF)
    add_test(NAME install_completion_and_man_page
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/install/completion_test.sh $<TARGET_FILE:qelvo>
                     ${PROJECT_SOURCE_DIR}/tools/share/qelvo-completion.bash ${QELVO_MAN_PAGE})
  endif()
endif()
