# Plug-in bundles: a directory <Name>.bundle holding the shared object, its
# Manifest.txt and a Resources folder (layout and manifest in docs/bundles.md).
# The default identifier and the view class come from cmake/QelvoDeliverables.cmake.
#
#   qelvo_add_bundle(NAME <Name> SUBTYPE <code> SOURCES <src>... [LIBS <lib>...]
#                    [TYPE aufx] [MANUFACTURER Qlvo] [VERSION <x.y.z>] [ENTRY FilterEntry]
#                    [IDENTIFIER org.qelvo.audiounit.<Name>] [DISPLAY_NAME <Name>]
#                    [RESOURCES <file or dir>...] [OUTPUT_DIRECTORY <dir>] [NO_INSTALL])
#
# Builds target <Name> as <dir>/<Name>.bundle/<Name>.so (dir: the build tree's
# plug-in folder unless OUTPUT_DIRECTORY says otherwise) exporting only the
# entry symbol, writes the manifest and the Resources folder next to it, and
# installs the bundle into the plug-in folder of the install tree.
#
#   qelvo_install_bundle(<Name> <destination folder>)
#
# Installs the bundle of target <Name> once more, as <destination>/<Name>.bundle.
include(GNUInstallDirs)

# Where the component loader looks after QELVO_PLUGIN_PATH: the install
# location, found relative to the folder the platform runtime is loaded from
# (<libdir>), then, for the runtime of the build tree, the build tree.
set(QELVO_PLUGIN_RUNTIME_SUBDIR qelvo/plugins)
set(QELVO_PLUGIN_INSTALL_SUBDIR ${CMAKE_INSTALL_LIBDIR}/${QELVO_PLUGIN_RUNTIME_SUBDIR})
set(QELVO_PLUGIN_BUILD_DIR ${PROJECT_BINARY_DIR}/plugins)
set(QELVO_BUNDLE_TEMPLATES ${CMAKE_CURRENT_LIST_DIR}/bundle)

function(qelvo_add_bundle)
  cmake_parse_arguments(PARSE_ARGV 0 B "NO_INSTALL"
    "NAME;SUBTYPE;TYPE;MANUFACTURER;VERSION;ENTRY;IDENTIFIER;DISPLAY_NAME;OUTPUT_DIRECTORY"
    "SOURCES;LIBS;RESOURCES")
  if(B_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "qelvo_add_bundle: unknown arguments ${B_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT B_NAME OR NOT B_SOURCES OR NOT B_SUBTYPE)
    message(FATAL_ERROR "qelvo_add_bundle needs NAME, SOURCES and SUBTYPE")
  endif()
  if(NOT B_NAME MATCHES "^[A-Za-z0-9_-]+$")
    message(FATAL_ERROR "qelvo_add_bundle: NAME '${B_NAME}' must be letters, digits, '_' or '-'")
  endif()
  if(NOT B_TYPE)
    set(B_TYPE aufx)
  endif()
  if(NOT B_MANUFACTURER)
    set(B_MANUFACTURER Qlvo)
  endif()
  foreach(code B_TYPE B_SUBTYPE B_MANUFACTURER)
    string(LENGTH "${${code}}" length)
    if(NOT length EQUAL 4)
      message(FATAL_ERROR "qelvo_add_bundle(${B_NAME}): '${${code}}' is not a four-character code")
    endif()
  endforeach()
  if(NOT B_VERSION)
    set(B_VERSION ${PROJECT_VERSION})
  endif()
  if(NOT B_ENTRY)
    set(B_ENTRY FilterEntry)
  endif()
  if(NOT B_IDENTIFIER)
    qelvo_bundle_identifier(B_IDENTIFIER ${B_NAME})
  endif()
  if(NOT B_DISPLAY_NAME)
    set(B_DISPLAY_NAME ${B_NAME})
  endif()
  if(NOT B_OUTPUT_DIRECTORY)
    set(B_OUTPUT_DIRECTORY ${QELVO_PLUGIN_BUILD_DIR})
  endif()
  set(bundle ${B_OUTPUT_DIRECTORY}/${B_NAME}.bundle)

  # The templates read these names.
  set(QELVO_BUNDLE_NAME ${B_NAME})
  set(QELVO_BUNDLE_IDENTIFIER ${B_IDENTIFIER})
  set(QELVO_BUNDLE_DISPLAY_NAME ${B_DISPLAY_NAME})
  set(QELVO_BUNDLE_TYPE ${B_TYPE})
  set(QELVO_BUNDLE_SUBTYPE ${B_SUBTYPE})
  set(QELVO_BUNDLE_MANUFACTURER ${B_MANUFACTURER})
  set(QELVO_BUNDLE_VERSION ${B_VERSION})
  set(QELVO_BUNDLE_EXECUTABLE ${B_NAME}.so)
  set(QELVO_BUNDLE_ENTRY ${B_ENTRY})
  qelvo_view_factory_class(QELVO_BUNDLE_VIEW_CLASS ${B_NAME})

  # Only the entry leaves the shared object; everything it links in stays
  # private, so two plug-ins in one process never share code or state.
  set(exports ${CMAKE_CURRENT_BINARY_DIR}/${B_NAME}.exports.map)
  configure_file(${QELVO_BUNDLE_TEMPLATES}/exports.map.in ${exports} @ONLY)

  add_library(${B_NAME} MODULE ${B_SOURCES})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} qelvo_platform)
  target_link_options(${B_NAME} PRIVATE -Wl,--version-script=${exports} -Wl,--exclude-libs,ALL)
  set_target_properties(${B_NAME} PROPERTIES
    PREFIX ""
    SUFFIX ".so"
    # $<0:> keeps multi-configuration generators from adding a folder per configuration.
    LIBRARY_OUTPUT_DIRECTORY ${bundle}$<0:>
    LINK_DEPENDS ${exports}
    QELVO_BUNDLE_DIR ${bundle})
  # The runtime is found in <libdir>, or next to the bundle inside an LV2
  # bundle that carries its own copy of both.
  qelvo_install_rpath(rpath ${QELVO_PLUGIN_INSTALL_SUBDIR}/${B_NAME}.bundle ${CMAKE_INSTALL_LIBDIR})
  set_target_properties(${B_NAME} PROPERTIES INSTALL_RPATH "${rpath};$ORIGIN/..")

  configure_file(${QELVO_BUNDLE_TEMPLATES}/Manifest.txt.in ${bundle}/Manifest.txt @ONLY)
  configure_file(${QELVO_BUNDLE_TEMPLATES}/EditorViewFactory-README.in
                 ${bundle}/Resources/EditorViewFactory.bundle/README @ONLY)
  foreach(resource ${B_RESOURCES})
    file(COPY ${resource} DESTINATION ${bundle}/Resources)
  endforeach()

  if(NOT B_NO_INSTALL)
    qelvo_install_bundle(${B_NAME} ${QELVO_PLUGIN_INSTALL_SUBDIR})
  endif()
endfunction()

function(qelvo_install_bundle name folder)
  get_target_property(bundle ${name} QELVO_BUNDLE_DIR)
  set(destination ${folder}/${name}.bundle)
  install(TARGETS ${name} LIBRARY DESTINATION ${destination})
  install(FILES ${bundle}/Manifest.txt DESTINATION ${destination})
  install(DIRECTORY ${bundle}/Resources DESTINATION ${destination})
endfunction()
