# The engine library: which file (named, the set-up's copy, or the pinned
# package fetched now), and its placement where TFPdf looks for a bare
# "libpdfium.so" after the program's own folder: <libdir>/kestrune/, in the
# build tree and in the installation alike. The library finds that folder
# relative to the program (and, when shared, to itself), never through a path
# compiled in, so nothing installed points back into this build tree.
include(${CMAKE_CURRENT_LIST_DIR}/KestruneEnginePackage.cmake)

set(KESTRUNE_ENGINE_SUBDIR ${CMAKE_INSTALL_LIBDIR}/kestrune)
set(KESTRUNE_ENGINE_BUILD_DIR ${PROJECT_BINARY_DIR}/${KESTRUNE_ENGINE_SUBDIR})
# The engine folder as seen from the programs' folder and from the library's.
file(RELATIVE_PATH KESTRUNE_ENGINE_FROM_PROGRAMS ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR}/kestrune)
file(RELATIVE_PATH KESTRUNE_ENGINE_FROM_LIBRARY ${CMAKE_INSTALL_FULL_LIBDIR} ${CMAKE_INSTALL_FULL_LIBDIR}/kestrune)

set(KESTRUNE_SETUP_ENGINE ${PROJECT_SOURCE_DIR}/.deps/pdfium-${KESTRUNE_ENGINE_VERSION}/libpdfium.so)
if(KESTRUNE_ENGINE_LIBRARY)
    if(NOT EXISTS ${KESTRUNE_ENGINE_LIBRARY} OR IS_DIRECTORY ${KESTRUNE_ENGINE_LIBRARY})
        message(FATAL_ERROR "KESTRUNE_ENGINE_LIBRARY is ${KESTRUNE_ENGINE_LIBRARY}, which is not a file; "
                            "name the engine's libpdfium.so, or leave it empty to fetch the pinned engine")
    endif()
    set(KESTRUNE_ENGINE_FILE ${KESTRUNE_ENGINE_LIBRARY})
elseif(EXISTS ${KESTRUNE_SETUP_ENGINE})
    set(KESTRUNE_ENGINE_FILE ${KESTRUNE_SETUP_ENGINE})
else()
    # A fresh checkout, nested or not: the pinned package, kept in the build
    # tree so that later configure runs need no network.
    set(fetch_dir ${PROJECT_BINARY_DIR}/engine-package/pdfium-${KESTRUNE_ENGINE_VERSION})
    kestrune_fetch_engine(${fetch_dir} failure)
    if(failure)
        message(FATAL_ERROR "Kestrune: no engine library. KESTRUNE_ENGINE_LIBRARY is not set, there is no "
                            "${KESTRUNE_SETUP_ENGINE}, and fetching the pinned engine failed: ${failure}. "
                            "Set KESTRUNE_ENGINE_LIBRARY to a libpdfium.so, or run scripts/setup.sh once with network.")
    endif()
    set(KESTRUNE_ENGINE_FILE ${fetch_dir}/libpdfium.so)
endif()

# Copied again whenever the chosen file changes.
configure_file(${KESTRUNE_ENGINE_FILE} ${KESTRUNE_ENGINE_BUILD_DIR}/libpdfium.so COPYONLY)
if(KESTRUNE_BUILD_PROGRAMS OR KESTRUNE_BUILD_TESTS)
    configure_file(${KESTRUNE_ENGINE_FILE} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/libpdfium.so COPYONLY)
endif()
set_property(GLOBAL PROPERTY KESTRUNE_ENGINE_FILE ${KESTRUNE_ENGINE_BUILD_DIR}/libpdfium.so)

# Installed even when nested, with the engine's licence and notices beside it:
# the library looks for it there once the consumer's programs are installed.
install(FILES ${KESTRUNE_ENGINE_FILE} DESTINATION ${KESTRUNE_ENGINE_SUBDIR} RENAME libpdfium.so
        PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(FILES ${PROJECT_SOURCE_DIR}/third_party/pdfium/LICENSE DESTINATION ${KESTRUNE_ENGINE_SUBDIR} RENAME LICENSE.pdfium)
install(FILES ${PROJECT_SOURCE_DIR}/third_party/pdfium/NOTICES DESTINATION ${KESTRUNE_ENGINE_SUBDIR} RENAME NOTICES.pdfium)

include(${CMAKE_CURRENT_LIST_DIR}/KestruneCopyEngine.cmake)
