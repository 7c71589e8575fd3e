# Writes the man page aerosol(1) from the program's own --help texts, so that the two never
# differ: cmake -DPROGRAM=<built aerosol> -DVERSION=<x.y.z> -DOUTPUT=<aerosol.1> -P manpage.cmake
# The help texts go in verbatim (no-fill blocks); only roff's special characters are escaped.

foreach(variable PROGRAM VERSION OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "manpage.cmake needs -D${variable}=...")
  endif()
endforeach()

# The --help text of `aerosol ARGS --help`; "" when the build has no such command.
function(help_of out)
  execute_process(COMMAND ${PROGRAM} ${ARGN} --help
    OUTPUT_VARIABLE text ERROR_QUIET RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    set(text "")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Text as roff shows it literally: backslashes, minus signs, and lines that would start a
# request (a leading dot or quote).
function(roff out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  string(STRIP "${text}" text)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

help_of(main_help)
if(main_help STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} --help failed: no man page")
endif()
help_of(simulate_help simulate)
help_of(materials_help materials)

# NAME: the first line of the help ("aerosol: nodal simulation of ...").
string(REGEX MATCH "^[^\n]*" first_line "${main_help}")
string(REGEX REPLACE "^aerosol: *" "" summary "${first_line}")
string(REGEX REPLACE "\\.$" "" summary "${summary}")
roff(summary "${summary}")
roff(main_text "${main_help}")

set(page ".TH AEROSOL 1 \"\" \"aerosol ${VERSION}\" \"User Commands\"
.SH NAME
aerosol \\- ${summary}
.SH SYNOPSIS
.B aerosol
.br
.B aerosol
.RB [ \\-\\-help | \\-\\-version ]
")
if(NOT simulate_help STREQUAL "")
  string(APPEND page ".br
.B aerosol simulate
[\\fIOPTIONS\\fR] \\fICASE\\fR
.br
.B aerosol materials
")
endif()
string(APPEND page ".SH DESCRIPTION
The text of
.BR \"aerosol \\-\\-help\" :
.PP
.nf
${main_text}
.fi
")
foreach(command simulate materials)
  if(NOT ${command}_help STREQUAL "")
    roff(text "${${command}_help}")
    string(TOUPPER "${command}" heading)
    string(APPEND page ".SH \"AEROSOL ${heading}\"
The text of
.BR \"aerosol ${command} \\-\\-help\" :
.PP
.nf
${text}
.fi
")
  endif()
endforeach()
string(APPEND page ".SH FILES
Without arguments the program reads
.IR main.inp ,
and
.I coag.inp
or
.IR grow.inp ,
in the working directory and prints tab\\-separated tables on standard output.
The materials library is compiled into the program.
.SH \"SEE ALSO\"
.BR aerosol\\-plot \" \\-\\-help\",
.BR aerosol\\-sweep \" \\-\\-help\";
under the installation prefix
.RI ( /usr
for the Debian package), the documentation in
.I share/doc/aerosol
(README.md, CHANGELOG.md and docs/) and the examples in
.IR share/aerosol/examples .
")
file(WRITE ${OUTPUT} "${page}")
