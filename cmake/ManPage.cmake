# Man pages made from a program's own --help text, so the two never disagree.
#
#   tessivane_man_page(<target> <section> "<one-line description>")
#
# builds <target>.<section> next to the program after every build of it and installs it
# under share/man/man<section>.

set(TESSIVANE_MAN_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/make_man_page.cmake)

function(tessivane_man_page target section description)
  set(page ${PROJECT_BINARY_DIR}/man/${target}.${section})
  add_custom_command(
    TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}> -DNAME=${target}
            -DSECTION=${section} "-DDESCRIPTION=${description}" -DVERSION=${PROJECT_VERSION}
            -DOUTPUT=${page} -P ${TESSIVANE_MAN_SCRIPT}
    VERBATIM)
  install(FILES ${page} DESTINATION share/man/man${section})
endfunction()
