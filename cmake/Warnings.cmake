# Warnings are errors on our own targets (not on third-party code).
function(vindelor_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror -Wshadow -Wconversion
                                           -Wno-sign-conversion)
endfunction()
