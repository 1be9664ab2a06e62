# SPDX-License-Identifier: GPL-3.0-or-later
# The build date follows SOURCE_DATE_EPOCH: run the generator for a known epoch and read the
# header back. Second 86399 of 1 March 2024 is still that day; the next second is the 2nd.
#   cmake -DSCRIPT=<scripts/build_date.cmake> -DWORK=<folder> -P about_build_date_check.cmake
foreach(case "1709337599;2024;3;1" "1709337600;2024;3;2")
  list(GET case 0 epoch)
  list(GET case 1 year)
  list(GET case 2 month)
  list(GET case 3 day)
  set(out "${WORK}/build_date_${epoch}.h")
  file(REMOVE "${out}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${epoch}
                          ${CMAKE_COMMAND} -DOUT=${out} -P ${SCRIPT}
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "build_date.cmake failed for epoch ${epoch}")
  endif()
  file(READ "${out}" text)
  foreach(line "murmelin_build_year = ${year};" "murmelin_build_month = ${month};"
               "murmelin_build_day = ${day};")
    string(FIND "${text}" "${line}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "epoch ${epoch}: '${line}' missing in\n${text}")
    endif()
  endforeach()
endforeach()
