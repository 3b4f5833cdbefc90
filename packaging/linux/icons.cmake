# The application icon in the hicolor theme under the desktop entry's name:
# the drawing itself, and PNGs of the usual sizes rendered from it with
# rsvg-convert (librsvg2-bin) when it is installed.
set(SVODAR_ICON_SVG ${CMAKE_CURRENT_SOURCE_DIR}/icons/svodar.svg)
set(icon_name org.svodar.Svodar)
set(icon_dir ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

install(FILES ${SVODAR_ICON_SVG} DESTINATION ${icon_dir}/scalable/apps RENAME ${icon_name}.svg)

find_program(RSVG_CONVERT_EXECUTABLE rsvg-convert)
if(RSVG_CONVERT_EXECUTABLE)
    set(icon_pngs)
    foreach(size 16 24 32 48 64 128 256)
        set(png ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}/${icon_name}.png)
        add_custom_command(OUTPUT ${png}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icons/${size}
            COMMAND ${RSVG_CONVERT_EXECUTABLE} --width=${size} --height=${size}
                    --output=${png} ${SVODAR_ICON_SVG}
            DEPENDS ${SVODAR_ICON_SVG}
            VERBATIM)
        list(APPEND icon_pngs ${png})
        install(FILES ${png} DESTINATION ${icon_dir}/${size}x${size}/apps)
    endforeach()
    add_custom_target(svodar_icons ALL DEPENDS ${icon_pngs})
else()
    message(STATUS "The icon's PNG sizes are not made: rsvg-convert missing")
endif()
