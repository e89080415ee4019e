# The recognition library kestrune_ocr (Kestrune::ocr): TPageRecognizer, which
# reads scanned pages through Tesseract, found through pkg-config. A library
# of its own, so that Kestrune::pdf needs no Tesseract. With the programs or
# tests it is required (kestrune-text reads scanned pages); for the library
# alone (nested, or -DKESTRUNE_BUILD_PROGRAMS=OFF) it is built only when
# Tesseract is found.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
    pkg_check_modules(TESSERACT QUIET IMPORTED_TARGET tesseract)
    # Leptonica, Tesseract's image library, which the recognizer calls itself
    # (deskewing a page).
    pkg_check_modules(LEPTONICA QUIET IMPORTED_TARGET lept)
endif()
if(NOT TESSERACT_FOUND OR NOT LEPTONICA_FOUND)
    if(KESTRUNE_BUILD_PROGRAMS OR KESTRUNE_BUILD_TESTS)
        message(FATAL_ERROR "Tesseract not found through pkg-config (tesseract.pc); on Debian: apt-get install libtesseract-dev tesseract-ocr-eng")
    endif()
    message(STATUS "Kestrune: Tesseract not found, Kestrune::ocr is not built")
    return()
endif()

# Tesseract's data folder, the language check and the page limits, which need
# no Tesseract: also compiled into the programs, which check languages before
# any work and load Tesseract only for a page to recognise.
add_library(kestrune_ocr_data OBJECT ${PROJECT_SOURCE_DIR}/ocr/RecognitionData.cpp ${PROJECT_SOURCE_DIR}/ocr/Recognition.h)
target_include_directories(kestrune_ocr_data PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(kestrune_ocr_data PRIVATE Qt6::Gui)
# Internal to whatever links it: the recognizer module exports its entry only.
set_target_properties(kestrune_ocr_data PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
# Where Tesseract keeps its language data when TESSDATA_PREFIX does not say:
# Debian's place for this version, then Tesseract's own default.
pkg_get_variable(TESSERACT_PREFIX tesseract prefix)
string(REGEX MATCH "^[0-9]+" TESSERACT_MAJOR "${TESSERACT_VERSION}")
target_compile_definitions(kestrune_ocr_data PRIVATE
    KESTRUNE_TESSDATA_FOLDERS="${TESSERACT_PREFIX}/share/tesseract-ocr/${TESSERACT_MAJOR}/tessdata:${TESSERACT_PREFIX}/share/tessdata")

add_library(kestrune_ocr STATIC
    ${PROJECT_SOURCE_DIR}/ocr/PageRecognizer.cpp ${PROJECT_SOURCE_DIR}/ocr/RecognizePage.cpp
    ${PROJECT_SOURCE_DIR}/ocr/TesseractThreads.cpp ${PROJECT_SOURCE_DIR}/ocr/PageImage.cpp
    $<TARGET_OBJECTS:kestrune_ocr_data>)
target_sources(kestrune_ocr PUBLIC FILE_SET HEADERS BASE_DIRS ${PROJECT_SOURCE_DIR}/include FILES
    ${PROJECT_SOURCE_DIR}/include/kestrune/PageRecognizer.h)
target_include_directories(kestrune_ocr PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(kestrune_ocr PUBLIC kestrune_pdf PRIVATE PkgConfig::TESSERACT PkgConfig::LEPTONICA)
set_target_properties(kestrune_ocr PROPERTIES EXPORT_NAME ocr)
add_library(Kestrune::ocr ALIAS kestrune_ocr)

# The programs' recognizer module (ocr/RecognizerModule.h): Tesseract's part of
# TPageRecognizer alone, without the engine binding (the programs render the
# page themselves), exporting its one entry. It lies in the engine's folder,
# in the build tree as installed, where the programs look for it.
if(KESTRUNE_BUILD_PROGRAMS OR KESTRUNE_BUILD_TESTS)
    add_library(kestrune_recognizer MODULE ${PROJECT_SOURCE_DIR}/ocr/RecognizerModule.cpp
                ${PROJECT_SOURCE_DIR}/ocr/RecognizerModule.h ${PROJECT_SOURCE_DIR}/ocr/PageRecognizer.cpp
                ${PROJECT_SOURCE_DIR}/ocr/TesseractThreads.cpp $<TARGET_OBJECTS:kestrune_ocr_data>)
    target_include_directories(kestrune_recognizer PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/include)
    target_link_libraries(kestrune_recognizer PRIVATE Qt6::Gui PkgConfig::TESSERACT PkgConfig::LEPTONICA)
    # Every symbol it uses resolved at link time, so that a missing one fails
    # the build rather than the first recognition.
    target_link_options(kestrune_recognizer PRIVATE -Wl,-z,defs)
    set_target_properties(kestrune_recognizer PROPERTIES
        OUTPUT_NAME kestrune-recognizer PREFIX "" SUFFIX ".so"
        LIBRARY_OUTPUT_DIRECTORY ${KESTRUNE_ENGINE_BUILD_DIR}
        CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endif()
