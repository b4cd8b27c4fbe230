# The warnings we want on our own targets (not on third-party code). They are errors in our
# presets and CI (CMAKE_COMPILE_WARNING_AS_ERROR), not in a plain build: a packager's build on a
# newer compiler should not fail over a warning that compiler has learnt.
function(vindelor_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                           -Wno-sign-conversion)
endfunction()
