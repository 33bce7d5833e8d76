# Warnings on and treated as errors for every target of this project.
function(veltrane_target_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wconversion -Wsign-conversion -Wold-style-cast
    -Wnon-virtual-dtor -Woverloaded-virtual -Wdouble-promotion -Wimplicit-fallthrough
    # GCC 12 reports impossible overlaps inside std::string at -O3.
    $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
endfunction()
