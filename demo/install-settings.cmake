# Puts the generated demo settings into the demo folder:
#   cmake -DSOURCE=<generated ini> -DTARGET=<demo>/config/SetupConfig.ini
#         -DDEMO_DIR=<demo> [-DFORCE=ON] -P install-settings.cmake
# The launcher writes back into that file (paths when a server starts, the
# font size on quit) and operators may edit it, so an existing file is kept,
# unless FORCE is set or it was written for a demo folder elsewhere (the
# build folder was moved or copied): a stamp beside it records the folder.
# The stamp also names the way values are written; files from before values
# were read as written had every path in quotes, which now would stay in it.
get_filename_component(dir "${TARGET}" DIRECTORY)
set(stamp "${dir}/.demo-folder")
set(stamp_text "${DEMO_DIR}\nvalues as written")
if(EXISTS "${TARGET}" AND EXISTS "${stamp}" AND NOT FORCE)
    file(READ "${stamp}" written_for)
    if(written_for STREQUAL stamp_text)
        return()
    endif()
    message(STATUS "Demo settings were written for another folder or an older launcher; rewriting ${TARGET}")
endif()
file(MAKE_DIRECTORY "${dir}")
configure_file("${SOURCE}" "${TARGET}" COPYONLY)
file(WRITE "${stamp}" "${stamp_text}")
