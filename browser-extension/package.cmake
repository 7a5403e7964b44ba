# Builds the companion extension for both browser families: an unpacked folder to load as it is,
# and the same files zipped (Chromium) or as an .xpi (Firefox).
# The manifests take the program's version (the project's in CMakeLists.txt), so the program and
# both extensions always say the same one.
# cmake -DSOURCE=<this folder> -DICON=<png> -DOUT=<folder> -DVERSION=<x.y.z> -P package.cmake
foreach(var SOURCE ICON OUT VERSION)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "package.cmake needs -D${var}=...")
    endif()
endforeach()

set(files background.js)
foreach(family chromium firefox)
    set(dir "${OUT}/${family}")
    file(REMOVE_RECURSE "${dir}")
    file(MAKE_DIRECTORY "${dir}")
    foreach(f ${files})
        file(COPY "${SOURCE}/src/${f}" DESTINATION "${dir}")
    endforeach()
    file(COPY_FILE "${ICON}" "${dir}/icon.png")
    set(QUILLHARBOUR_VERSION "${VERSION}")
    configure_file("${SOURCE}/manifest.${family}.json" "${dir}/manifest.json" @ONLY)
endforeach()

# Archives hold the files at their top level, as both browsers expect.
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${OUT}/quillharbour-chromium.zip" --format=zip
                        manifest.json ${files} icon.png
                WORKING_DIRECTORY "${OUT}/chromium" RESULT_VARIABLE zipped)
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${OUT}/quillharbour-firefox.xpi" --format=zip
                        manifest.json ${files} icon.png
                WORKING_DIRECTORY "${OUT}/firefox" RESULT_VARIABLE xpi)
if(NOT zipped EQUAL 0 OR NOT xpi EQUAL 0)
    message(FATAL_ERROR "could not archive the extension")
endif()
