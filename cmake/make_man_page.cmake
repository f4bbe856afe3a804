# Script mode (cmake -P): runs PROGRAM --help and writes it to OUTPUT as a man page.

execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed (${result})")
endif()

# roff treats a backslash as an escape and a leading dot or quote as a request.
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
string(REGEX REPLACE "\n$" "" help "${help}")
string(FIND "${help}" "\n" firstBreak)
string(SUBSTRING "${help}" 0 ${firstBreak} usage)
math(EXPR bodyStart "${firstBreak} + 1")
string(SUBSTRING "${help}" ${bodyStart} -1 body)
string(REGEX REPLACE "^usage: " "" usage "${usage}")
string(TOUPPER "${NAME}" title)

file(WRITE "${OUTPUT}" ".TH ${title} ${SECTION} \"\" \"${NAME} ${VERSION}\"
.SH NAME
${NAME} \\- ${DESCRIPTION}
.SH SYNOPSIS
.B ${usage}
.SH DESCRIPTION
.nf
${body}
.fi
")
