# Placing the engine library where TFPdf looks for a bare "libpdfium.so" (after
# the folder of the running program): the build tree's copy, laid out as the
# installation is, and the installed copy. Both folders are compiled into the
# library, so a program that links it finds the engine from any working
# directory without LD_LIBRARY_PATH, nested and installed alike.
set(KESTRUNE_ENGINE_SUBDIR ${CMAKE_INSTALL_LIBDIR}/kestrune)
set(KESTRUNE_ENGINE_BUILD_DIR ${PROJECT_BINARY_DIR}/${KESTRUNE_ENGINE_SUBDIR})
set(KESTRUNE_ENGINE_INSTALL_DIR ${CMAKE_INSTALL_FULL_LIBDIR}/kestrune)
# The installed folder as seen from the installed programs, for an installation
# moved elsewhere or installed under another prefix than the configured one.
file(RELATIVE_PATH KESTRUNE_ENGINE_FROM_PROGRAMS ${CMAKE_INSTALL_FULL_BINDIR} ${KESTRUNE_ENGINE_INSTALL_DIR})

if(KESTRUNE_ENGINE_LIBRARY)
    if(NOT EXISTS ${KESTRUNE_ENGINE_LIBRARY} OR IS_DIRECTORY ${KESTRUNE_ENGINE_LIBRARY})
        message(FATAL_ERROR "KESTRUNE_ENGINE_LIBRARY is ${KESTRUNE_ENGINE_LIBRARY}, which is not a file; "
                            "name the engine's libpdfium.so, or leave it empty to rely on the platform's library search")
    endif()
    # Copied again whenever the named file changes.
    configure_file(${KESTRUNE_ENGINE_LIBRARY} ${KESTRUNE_ENGINE_BUILD_DIR}/libpdfium.so COPYONLY)
    if(KESTRUNE_BUILD_PROGRAMS OR KESTRUNE_BUILD_TESTS)
        configure_file(${KESTRUNE_ENGINE_LIBRARY} ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/libpdfium.so COPYONLY)
    endif()
    # Installed even when nested: the library looks for it there once the
    # consumer's programs are installed.
    install(FILES ${KESTRUNE_ENGINE_LIBRARY} DESTINATION ${KESTRUNE_ENGINE_SUBDIR} RENAME libpdfium.so
            PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    set_property(GLOBAL PROPERTY KESTRUNE_ENGINE_FILE ${KESTRUNE_ENGINE_BUILD_DIR}/libpdfium.so)
else()
    message(STATUS "Kestrune: KESTRUNE_ENGINE_LIBRARY is empty, so no engine is placed; "
                   "programs find libpdfium.so beside them or through the platform's library search")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/KestruneCopyEngine.cmake)
