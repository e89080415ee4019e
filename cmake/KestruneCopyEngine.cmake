# kestrune_copy_engine(<target>): copies the engine library beside the target's
# file after each build, where TFPdf looks for it first. Useful for a program
# that is shipped as a folder of its own.
function(kestrune_copy_engine target)
    get_property(engine GLOBAL PROPERTY KESTRUNE_ENGINE_FILE)
    if(NOT engine)
        message(FATAL_ERROR "kestrune_copy_engine(${target}): no engine library is known "
                            "(set KESTRUNE_ENGINE_LIBRARY when configuring Kestrune)")
    endif()
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${engine} $<TARGET_FILE_DIR:${target}>/libpdfium.so
        VERBATIM)
endfunction()
