# Run at every build (not at configure time): writes the revision being built
# into OUT, touching the file only when it changed, so that the first log line
# names the commit the program was built from.
execute_process(COMMAND git rev-parse --short HEAD
                WORKING_DIRECTORY ${SOURCE_DIR}
                OUTPUT_VARIABLE revision OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR revision STREQUAL "")
    set(revision "${FALLBACK}")
else()
    execute_process(COMMAND git status --porcelain --untracked-files=no
                    WORKING_DIRECTORY ${SOURCE_DIR}
                    OUTPUT_VARIABLE dirty ERROR_QUIET)
    if(NOT dirty STREQUAL "")
        set(revision "${revision}-modified")
    endif()
endif()
set(text "#define HB_REVISION \"${revision}\"\n")
if(EXISTS ${OUT})
    file(READ ${OUT} old)
endif()
if(NOT "${old}" STREQUAL "${text}")
    file(WRITE ${OUT} "${text}")
endif()
