# The recognition library kestrune_ocr (Kestrune::ocr): TPageRecognizer, which
# reads scanned pages through Tesseract, found through pkg-config. A library
# of its own, so that Kestrune::pdf needs no Tesseract. With the programs or
# tests it is required (kestrune-text reads scanned pages); for the library
# alone (nested, or -DKESTRUNE_BUILD_PROGRAMS=OFF) it is built only when
# Tesseract is found.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
    pkg_check_modules(TESSERACT QUIET IMPORTED_TARGET tesseract)
endif()
if(NOT TESSERACT_FOUND)
    if(KESTRUNE_BUILD_PROGRAMS OR KESTRUNE_BUILD_TESTS)
        message(FATAL_ERROR "Tesseract not found through pkg-config (tesseract.pc); on Debian: apt-get install libtesseract-dev tesseract-ocr-eng")
    endif()
    message(STATUS "Kestrune: Tesseract not found, Kestrune::ocr is not built")
    return()
endif()

add_library(kestrune_ocr STATIC ${PROJECT_SOURCE_DIR}/ocr/PageRecognizer.cpp)
target_sources(kestrune_ocr PUBLIC FILE_SET HEADERS BASE_DIRS ${PROJECT_SOURCE_DIR}/include FILES
    ${PROJECT_SOURCE_DIR}/include/kestrune/PageRecognizer.h)
target_link_libraries(kestrune_ocr PUBLIC kestrune_pdf PRIVATE PkgConfig::TESSERACT)
set_target_properties(kestrune_ocr PROPERTIES EXPORT_NAME ocr)
add_library(Kestrune::ocr ALIAS kestrune_ocr)

# Where Tesseract keeps its language data when TESSDATA_PREFIX does not say:
# Debian's place for this version, then Tesseract's own default.
pkg_get_variable(TESSERACT_PREFIX tesseract prefix)
string(REGEX MATCH "^[0-9]+" TESSERACT_MAJOR "${TESSERACT_VERSION}")
set_property(SOURCE ${PROJECT_SOURCE_DIR}/ocr/PageRecognizer.cpp APPEND PROPERTY COMPILE_DEFINITIONS
    KESTRUNE_TESSDATA_FOLDERS="${TESSERACT_PREFIX}/share/tesseract-ocr/${TESSERACT_MAJOR}/tessdata:${TESSERACT_PREFIX}/share/tessdata")
