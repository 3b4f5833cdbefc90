# Man pages, gzipped as Debian keeps them: svodar.1 is written by hand (the
# window takes no options); svodar-cli.1 is made by help2man from the built
# program's --help and --version, so it cannot fall behind its options. Without
# help2man, or when the program cannot run here (cross-compiling), it is left out.
# The help is Russian, Qt's headings too ("Использование:", "Параметры:"), so
# help2man reads it in its Russian locale, and the page's headings are Russian
# (the sections of svodar-cli.h2m are named as help2man names them there).
find_program(GZIP_EXECUTABLE gzip REQUIRED)
find_program(HELP2MAN_EXECUTABLE help2man)

set(SVODAR_MAN_PAGES ${CMAKE_CURRENT_BINARY_DIR}/svodar.1.gz)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/svodar.1.gz
    COMMAND ${GZIP_EXECUTABLE} -9nc ${CMAKE_CURRENT_SOURCE_DIR}/linux/svodar.1
            > ${CMAKE_CURRENT_BINARY_DIR}/svodar.1.gz
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/linux/svodar.1
    VERBATIM)

if(HELP2MAN_EXECUTABLE AND NOT CMAKE_CROSSCOMPILING)
    set(include_file ${CMAKE_CURRENT_SOURCE_DIR}/linux/svodar-cli.h2m)
    add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/svodar-cli.1.gz
        COMMAND ${HELP2MAN_EXECUTABLE} --no-info --section=1 --locale=ru_RU.UTF-8
                --include=${include_file} --output=svodar-cli.1
                $<TARGET_FILE:svodar-cli>
        COMMAND ${GZIP_EXECUTABLE} -9nf svodar-cli.1
        DEPENDS svodar-cli ${include_file}
        WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
        VERBATIM)
    list(APPEND SVODAR_MAN_PAGES ${CMAKE_CURRENT_BINARY_DIR}/svodar-cli.1.gz)
else()
    message(STATUS "svodar-cli.1 is not made: help2man missing or cross-compiling")
endif()

add_custom_target(svodar_man_pages ALL DEPENDS ${SVODAR_MAN_PAGES})
install(FILES ${SVODAR_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
