# Warnings on for all our targets; third-party code (GoogleTest) is added before this applies.
function(ovra7_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wnon-virtual-dtor)
endfunction()
