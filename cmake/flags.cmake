# Project-wide compile settings, applied through an interface target so that
# every library, tool and test picks up the same warnings and sanitizers.
add_library(edi_flags INTERFACE)
target_compile_options(edi_flags INTERFACE -Wall -Wextra -Wpedantic -Wno-unused-parameter)
# GCC 12 warns of overlapping copies inside std::string's operator+ once it is inlined at -O2
# (a known false alarm of GCC 12, gone in GCC 13) on every "text" + string of a release build.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(edi_flags INTERFACE -Wno-restrict)
endif()
if(K500100_WARNINGS_AS_ERRORS)
    target_compile_options(edi_flags INTERFACE -Werror)
endif()
if(K500100_SANITIZE)
    target_compile_options(edi_flags INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                               -fno-sanitize-recover=undefined)
    target_link_options(edi_flags INTERFACE -fsanitize=address,undefined)
endif()

# The coverage build: gcov counters in every library, tool and test, read by scripts/coverage.
option(K500100_COVERAGE "Build with gcov line counters" OFF)
if(K500100_COVERAGE)
    target_compile_options(edi_flags INTERFACE --coverage -O0)
    target_link_options(edi_flags INTERFACE --coverage)
endif()

# The fuzz build (clang): every library instrumented for libFuzzer, with both sanitizers.
option(K500100_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
if(K500100_FUZZ)
    target_compile_options(edi_flags INTERFACE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    target_link_options(edi_flags INTERFACE -fsanitize=address,undefined)
endif()
