# The library kestrune_pdf (Kestrune::pdf): TFPdf, the engine binding, the
# framework layer, the page layouts with their formats (layout/), and the
# invisible text layer over scanned pages (textlayer/).
# Consumers write #include <kestrune/FPdf.h>, the same in this tree, nested and
# installed; the implementation's own headers (component/, engine/, layout/,
# textlayer/) stay private.
file(GLOB KESTRUNE_ENGINE_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/engine/*.cpp ${PROJECT_SOURCE_DIR}/engine/*.h)
file(GLOB KESTRUNE_COMPONENT_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/component/*.cpp ${PROJECT_SOURCE_DIR}/component/*.h)
file(GLOB KESTRUNE_LAYOUT_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/layout/*.cpp ${PROJECT_SOURCE_DIR}/layout/*.h)
file(GLOB KESTRUNE_TEXTLAYER_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/textlayer/*.cpp ${PROJECT_SOURCE_DIR}/textlayer/*.h)
# Static by default; BUILD_SHARED_LIBS makes it a shared library.
add_library(kestrune_pdf ${KESTRUNE_ENGINE_SOURCES} ${KESTRUNE_COMPONENT_SOURCES} ${KESTRUNE_LAYOUT_SOURCES}
            ${KESTRUNE_TEXTLAYER_SOURCES})
# The public headers, installed as they are; listed here so that moc sees the classes.
target_sources(kestrune_pdf PUBLIC FILE_SET HEADERS BASE_DIRS ${PROJECT_SOURCE_DIR}/include FILES
    ${PROJECT_SOURCE_DIR}/include/kestrune/FPdf.h
    ${PROJECT_SOURCE_DIR}/include/kestrune/PageLayout.h
    ${PROJECT_SOURCE_DIR}/include/kestrune/LayoutFormats.h
    ${PROJECT_SOURCE_DIR}/include/kestrune/PageStructure.h
    ${PROJECT_SOURCE_DIR}/include/kestrune/TextLayer.h
    ${PROJECT_SOURCE_DIR}/include/kestrune/PageText.h
    ${PROJECT_SOURCE_DIR}/include/kestrune/Component.h
    ${PROJECT_SOURCE_DIR}/include/kestrune/Engine.h
    ${PROJECT_SOURCE_DIR}/include/kestrune/EngineLock.h
    ${PROJECT_SOURCE_DIR}/include/kestrune/EngineTypes.h
    ${PROJECT_SOURCE_DIR}/include/kestrune/FpuMask.h
    ${PROJECT_SOURCE_DIR}/include/kestrune/PdfError.h
    ${PROJECT_SOURCE_DIR}/include/kestrune/FileError.h
    ${PROJECT_SOURCE_DIR}/include/kestrune/EntryPoints.def)
target_include_directories(kestrune_pdf PRIVATE ${PROJECT_SOURCE_DIR})
# The public headers need C++20, so every consumer compiles with it.
target_compile_features(kestrune_pdf PUBLIC cxx_std_20)
target_link_libraries(kestrune_pdf PUBLIC Qt6::Core Qt6::Gui ${CMAKE_DL_LIBS})
set_target_properties(kestrune_pdf PROPERTIES EXPORT_NAME pdf)
add_library(Kestrune::pdf ALIAS kestrune_pdf)

# Where the engine is looked for after the program's own folder (see
# EngineSearchPath): relative to the program, and relative to the library
# itself when it is a shared one. Only the binding's source needs them.
set_property(SOURCE ${PROJECT_SOURCE_DIR}/engine/Engine.cpp APPEND PROPERTY COMPILE_DEFINITIONS
    KESTRUNE_ENGINE_FROM_PROGRAMS="${KESTRUNE_ENGINE_FROM_PROGRAMS}")
get_target_property(KESTRUNE_PDF_TYPE kestrune_pdf TYPE)
if(KESTRUNE_PDF_TYPE STREQUAL "SHARED_LIBRARY")
    set_target_properties(kestrune_pdf PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
    set_property(SOURCE ${PROJECT_SOURCE_DIR}/engine/Engine.cpp APPEND PROPERTY COMPILE_DEFINITIONS
        KESTRUNE_ENGINE_FROM_LIBRARY="${KESTRUNE_ENGINE_FROM_LIBRARY}")
    # The programs find the shared library relative to themselves, in the
    # build tree (laid out as installed) and installed alike. The same run
    # path in both also spares CMake's build-time one, which it pads with an
    # empty entry (the working folder, to the loader) to rewrite on install.
    file(RELATIVE_PATH KESTRUNE_LIBDIR_FROM_PROGRAMS ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
    set(CMAKE_INSTALL_RPATH "$ORIGIN/${KESTRUNE_LIBDIR_FROM_PROGRAMS}")
    set(CMAKE_BUILD_WITH_INSTALL_RPATH ON)
endif()

# Nested, the other project's programs get the build tree's engine folder in
# their build-time run path, which the platform's library search consults
# after the library's own folders; CMake takes it out when it installs them, so
# installed programs never look into a build tree. This project's own programs
# need none: they find the engine beside them or in ../lib/kestrune.
if(NOT PROJECT_IS_TOP_LEVEL)
    target_link_directories(kestrune_pdf INTERFACE $<BUILD_INTERFACE:${KESTRUNE_ENGINE_BUILD_DIR}>)
endif()

# The project's own programs, tests and benchmark also reach the
# implementation's headers through the source root.
add_library(kestrune_internal INTERFACE)
target_include_directories(kestrune_internal INTERFACE ${PROJECT_SOURCE_DIR})
target_link_libraries(kestrune_internal INTERFACE kestrune_pdf)
