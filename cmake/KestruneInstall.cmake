# cmake --install: the library with its public headers, the CMake package
# (find_package(Kestrune) gives Kestrune::pdf, and Kestrune::ocr when built),
# kestrune.pc (kestrune-ocr.pc) for pkg-config and the project's licence.
# The engine is installed by KestruneEngine.cmake, the programs by convert/, cli/ and window/.
option(KESTRUNE_INSTALL "Install the library, its headers and package files" ${PROJECT_IS_TOP_LEVEL})
if(NOT KESTRUNE_INSTALL)
    return()
endif()

include(CMakePackageConfigHelpers)
set(KESTRUNE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrune)

# The library targets of the package, all in one export set.
install(TARGETS kestrune_pdf EXPORT KestruneTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET kestrune_ocr)
    install(TARGETS kestrune_ocr EXPORT KestruneTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
    set(KESTRUNE_HAS_OCR ON)
else()
    set(KESTRUNE_HAS_OCR OFF)
endif()
install(EXPORT KestruneTargets NAMESPACE Kestrune:: FILE KestruneTargets.cmake DESTINATION ${KESTRUNE_CMAKE_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KestruneConfig.cmake.in
    ${PROJECT_BINARY_DIR}/KestruneConfig.cmake
    INSTALL_DESTINATION ${KESTRUNE_CMAKE_DIR}
    PATH_VARS KESTRUNE_ENGINE_SUBDIR CMAKE_INSTALL_LIBDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KestruneConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/KestruneConfig.cmake
    ${PROJECT_BINARY_DIR}/KestruneConfigVersion.cmake
    ${CMAKE_CURRENT_LIST_DIR}/KestruneCopyEngine.cmake
    DESTINATION ${KESTRUNE_CMAKE_DIR})

# The .pc file finds its prefix from its own place, so the installation may be
# moved (or installed with --prefix) and still be found as it is. Its Libs give
# consumers' programs a run path to the engine folder (and to the library's
# folder when it is shared), which the library searches after the program's
# own folder.
file(RELATIVE_PATH KESTRUNE_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" KESTRUNE_PC_TO_PREFIX "${KESTRUNE_PC_TO_PREFIX}")
set(KESTRUNE_PC_LIBS "")
foreach(lib ${CMAKE_DL_LIBS})
    string(APPEND KESTRUNE_PC_LIBS " -l${lib}")
endforeach()
string(APPEND KESTRUNE_PC_LIBS " -Wl,-rpath,\${enginedir}")
if(KESTRUNE_PDF_TYPE STREQUAL "SHARED_LIBRARY")
    string(APPEND KESTRUNE_PC_LIBS " -Wl,-rpath,\${libdir}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/kestrune.pc.in ${PROJECT_BINARY_DIR}/kestrune.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kestrune.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(TARGET kestrune_ocr)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/kestrune-ocr.pc.in ${PROJECT_BINARY_DIR}/kestrune-ocr.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/kestrune-ocr.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()
