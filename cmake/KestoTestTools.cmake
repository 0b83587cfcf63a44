# Tests that need a tool from outside the build (Octave, Wine, a native build of the emulator)
# are added only where the tool is found. KESTO_REQUIRE_ALL_TESTS decides what a missing tool
# means: ON (scripts/test.sh), a configure error naming it, so that a run in which some tests
# quietly went missing cannot pass; OFF (hand builds), a note and the tests left out.

# kesto_test_tool_missing(tests tool): `tests` cannot be added for want of `tool`.
function(kesto_test_tool_missing tests tool)
  if(KESTO_REQUIRE_ALL_TESTS)
    message(FATAL_ERROR "kesto: ${tests} need ${tool}, which was not found "
                        "(KESTO_REQUIRE_ALL_TESTS is ON)")
  endif()
  message(STATUS "kesto: ${tests} left out, for want of ${tool}")
endfunction()
