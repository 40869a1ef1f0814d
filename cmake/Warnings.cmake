# Project-wide warnings; every warning is an error.
function(lanyard_set_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual -Wformat=2 -Werror)
endfunction()
