# Run after a test executable is built: lists its suites and writes one CTest
# test per suite into OUT, each running that suite alone in its own process.
# Inputs: EXE, OUT, LABEL, WORKDIR. Tests are named <executable>.<suite>, as
# two executables can hold suites of one name.
execute_process(COMMAND "${EXE}" --gtest_list_tests
  OUTPUT_VARIABLE listing RESULT_VARIABLE result WORKING_DIRECTORY "${WORKDIR}" TIMEOUT 60)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${EXE} --gtest_list_tests failed (${result}):\n${listing}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
get_filename_component(exename "${EXE}" NAME)
set(script "")
foreach(line IN LISTS lines)
  # Suite lines start in the first column and end with a dot; typed and
  # parameterised suites carry a comment after it.
  if(line MATCHES "^([A-Za-z0-9_/]+)\\.")
    set(suite "${CMAKE_MATCH_1}")
    set(name "${exename}.${suite}")
    string(APPEND script
      "add_test([=[${name}]=] [==[${EXE}]==] [==[--gtest_filter=${suite}.*]==])\n"
      "set_tests_properties([=[${name}]=] PROPERTIES LABELS [=[${LABEL}]=] WORKING_DIRECTORY [==[${WORKDIR}]==])\n")
    # A disabled suite would run nothing and pass: CTest lists it as disabled.
    if(suite MATCHES "^DISABLED_")
      string(APPEND script "set_tests_properties([=[${name}]=] PROPERTIES DISABLED TRUE)\n")
    endif()
  endif()
endforeach()
file(WRITE "${OUT}" "${script}")
