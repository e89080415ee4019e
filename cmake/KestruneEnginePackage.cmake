# The pinned engine package and its fetching, shared by the configure step
# (cmake/KestruneEngine.cmake) and the set-up script, which runs this file in
# script mode:
#   cmake -DKESTRUNE_ENGINE_DEST=<folder> -P cmake/KestruneEnginePackage.cmake
#
# PDFium has no Debian package; this npm package ships a self-contained build of
# it as package/libpdfium.so (its other file, a Node.js add-on, is not used).
# The checksum pins that exact file: a package republished under the same
# version, or a tampered download, is refused.
set(KESTRUNE_ENGINE_PACKAGE "@craftlions/pdfium-rs-linux-x64-gnu")
set(KESTRUNE_ENGINE_VERSION "0.0.15")
set(KESTRUNE_ENGINE_SHA256 "246872bdd5e05843b70051e6378216cc584535a1f4a7248b9f88059715d70f7c")

# kestrune_fetch_engine(<folder> <result-var>): makes <folder>/libpdfium.so the
# pinned engine, fetching the package with `npm pack` unless a file with the
# pinned checksum is there already. <result-var> is empty on success, else the
# reason it failed; nothing but a checked file is ever left at that path.
function(kestrune_fetch_engine dest result_var)
    set(engine "${dest}/libpdfium.so")
    if(EXISTS "${engine}")
        file(SHA256 "${engine}" sum)
        if(sum STREQUAL KESTRUNE_ENGINE_SHA256)
            set(${result_var} "" PARENT_SCOPE)
            return()
        endif()
    endif()
    find_program(KESTRUNE_NPM npm)
    if(NOT KESTRUNE_NPM)
        set(${result_var} "npm, which fetches the engine package, was not found (Debian: apt-get install npm)" PARENT_SCOPE)
        return()
    endif()

    # Unpacked in a folder of its own beside the destination, so that the
    # checked file is moved into place in one step.
    set(work "${dest}.fetch")
    file(REMOVE_RECURSE "${work}")
    file(MAKE_DIRECTORY "${work}" "${dest}")
    message(STATUS "Kestrune: fetching the engine (${KESTRUNE_ENGINE_PACKAGE}@${KESTRUNE_ENGINE_VERSION}) with npm pack")
    execute_process(COMMAND "${KESTRUNE_NPM}" pack --silent "${KESTRUNE_ENGINE_PACKAGE}@${KESTRUNE_ENGINE_VERSION}"
        WORKING_DIRECTORY "${work}" RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err
        TIMEOUT 600)
    file(GLOB tarball "${work}/*.tgz")
    if(NOT status EQUAL 0 OR NOT tarball)
        file(REMOVE_RECURSE "${work}")
        string(STRIP "${err}" err)
        set(${result_var} "npm pack ${KESTRUNE_ENGINE_PACKAGE}@${KESTRUNE_ENGINE_VERSION} failed (no network?): ${err}" PARENT_SCOPE)
        return()
    endif()
    file(ARCHIVE_EXTRACT INPUT "${tarball}" DESTINATION "${work}" PATTERNS package/libpdfium.so)
    set(fetched "${work}/package/libpdfium.so")
    if(EXISTS "${fetched}")
        file(SHA256 "${fetched}" sum)
    else()
        set(sum "")
    endif()
    if(NOT sum STREQUAL KESTRUNE_ENGINE_SHA256)
        file(REMOVE_RECURSE "${work}")
        string(CONCAT reason "checksum mismatch for libpdfium.so from ${KESTRUNE_ENGINE_PACKAGE}@${KESTRUNE_ENGINE_VERSION} "
                             "(expected sha256 ${KESTRUNE_ENGINE_SHA256}); not using it")
        set(${result_var} "${reason}" PARENT_SCOPE)
        return()
    endif()
    file(RENAME "${fetched}" "${engine}")
    file(REMOVE_RECURSE "${work}")
    set(${result_var} "" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    if(NOT KESTRUNE_ENGINE_DEST)
        message(FATAL_ERROR "usage: cmake -DKESTRUNE_ENGINE_DEST=<folder> -P ${CMAKE_CURRENT_LIST_FILE}")
    endif()
    kestrune_fetch_engine("${KESTRUNE_ENGINE_DEST}" failure)
    if(failure)
        message(FATAL_ERROR "${failure}")
    endif()
endif()
