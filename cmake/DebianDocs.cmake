# The two files Debian requires beside a program in usr/share/doc/PACKAGE,
# made when the project is configured (again whenever their sources change):
#   debian_changelog(MARKDOWN OUT MAINTAINER)
#     CHANGELOG.md in Debian's changelog format: one entry a version, newest
#     first, each signed by MAINTAINER on the version's date.
#   debian_copyright(LICENSE OUT NAME HOLDERS_VAR)
#     LICENSE (the MIT licence: a title, a copyright line, then its text) in
#     Debian's machine-readable copyright format; HOLDERS_VAR is set to the
#     years and holders of its copyright line.

# The day of the week of a date (Sakamoto's method), as Debian's changelog
# writes it.
function(_debian_weekday year month day out)
  set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR index "${month} - 1")
  list(GET offsets ${index} offset)
  if(month LESS 3)
    math(EXPR year "${year} - 1")
  endif()
  math(EXPR weekday "(${year} + ${year} / 4 - ${year} / 100 + ${year} / 400 + ${offset} + ${day}) % 7")
  set(names Sun Mon Tue Wed Thu Fri Sat)
  list(GET names ${weekday} name)
  set(${out} ${name} PARENT_SCOPE)
endfunction()

# The changelog is made of lines of four kinds after its preamble (the text
# before the first version): "## VERSION (YYYY-MM-DD)", "- " starting an item,
# two blanks continuing one, and empty lines, none longer than 78 characters
# (80 in Debian's changelog, with the two blanks more it indents items by).
# Anything else stops the configuration, naming the line, rather than giving
# a package whose changelog dpkg cannot read or lintian warns about.
function(debian_changelog markdown out maintainer)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${markdown})
  file(STRINGS ${markdown} lines)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  set(text "")
  set(trailer "")  # the signature that ends the entry being written
  set(number 0)
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    string(LENGTH "${line}" length)
    if(length GREATER 78 AND NOT trailer STREQUAL "")
      message(FATAL_ERROR "${markdown}:${number}: longer than 78 characters: ${line}")
    endif()
    if(line MATCHES "^## ([0-9][0-9A-Za-z.+~]*) \\(([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])\\)$")
      set(version ${CMAKE_MATCH_1})
      set(year ${CMAKE_MATCH_2})
      set(mm ${CMAKE_MATCH_3})
      set(dd ${CMAKE_MATCH_4})
      # The numbers without their leading zeros, for math() and comparisons.
      string(REGEX REPLACE "^0" "" month ${mm})
      string(REGEX REPLACE "^0" "" day ${dd})
      if(month LESS 1 OR month GREATER 12 OR day LESS 1 OR day GREATER 31)
        message(FATAL_ERROR "${markdown}:${number}: no such date: ${line}")
      endif()
      _debian_weekday(${year} ${month} ${day} weekday)
      math(EXPR index "${month} - 1")
      list(GET months ${index} month_name)
      string(APPEND text "${trailer}${PROJECT_NAME} (${version}) unstable; urgency=medium\n\n")
      set(trailer "\n -- ${maintainer}  ${weekday}, ${dd} ${month_name} ${year} 00:00:00 +0000\n\n")
    elseif(line MATCHES "^## ")
      message(FATAL_ERROR "${markdown}:${number}: not a version '## VERSION (YYYY-MM-DD)': ${line}")
    elseif(trailer STREQUAL "")
      continue()  # the preamble
    elseif(line MATCHES "^- (.*)$")
      string(APPEND text "  * ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^  (.*)$")
      string(APPEND text "    ${CMAKE_MATCH_1}\n")
    elseif(NOT line STREQUAL "")
      message(FATAL_ERROR "${markdown}:${number}: neither a version, an item nor its continuation: ${line}")
    endif()
  endforeach()
  if(trailer STREQUAL "")
    message(FATAL_ERROR "${markdown}: no version (a line '## VERSION (YYYY-MM-DD)')")
  endif()
  # One empty line between an entry's items and its signature.
  string(REGEX REPLACE "\n\n+ -- " "\n\n -- " text "${text}${trailer}")
  string(REGEX REPLACE "\n+$" "\n" text "${text}")
  file(WRITE ${out} "${text}")
endfunction()

function(debian_copyright license out name holders_var)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${license})
  file(STRINGS ${license} lines)
  list(POP_FRONT lines title)
  if(NOT title STREQUAL "MIT License")
    message(FATAL_ERROR "${license} does not begin with 'MIT License'")
  endif()
  set(holders "")
  set(body "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^Copyright \\(c\\) (.*)$")
      set(holders ${CMAKE_MATCH_1})
    elseif(line STREQUAL "")
      string(APPEND body " .\n")
    else()
      string(APPEND body " ${line}\n")
    endif()
  endforeach()
  if(holders STREQUAL "")
    message(FATAL_ERROR "${license} has no line 'Copyright (c) YEAR HOLDERS'")
  endif()
  set(${holders_var} ${holders} PARENT_SCOPE)
  # The text of the licence, without the empty lines around it.
  string(REGEX REPLACE "^( \\.\n)+" "" body "${body}")
  string(REGEX REPLACE "( \\.\n)+$" "" body "${body}")
  # The licence Debian calls Expat is the one most call MIT.
  file(WRITE ${out} "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${name}

Files: *
Copyright: ${holders}
License: Expat

License: Expat
${body}")
endfunction()
