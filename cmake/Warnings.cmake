# kestrav_warnings: warning flags, warnings-as-errors and sanitizers for every target of the project.
# kestrav_arith: the floating-point contract the numerical maps rely on.
add_library(kestrav_warnings INTERFACE)
target_compile_options(kestrav_warnings INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion>
  $<$<COMPILE_LANGUAGE:CUDA>:-Xcompiler=-Wall,-Wextra>)
if(KESTRAV_WARNINGS_AS_ERRORS)
  target_compile_options(kestrav_warnings INTERFACE $<$<COMPILE_LANGUAGE:CXX>:-Werror>
                                                    $<$<COMPILE_LANGUAGE:CUDA>:-Werror=all-warnings>)
endif()
if(KESTRAV_FUZZ)
  # Every object carries the fuzzer's coverage and the sanitizers; the targets link the fuzzer.
  target_compile_options(kestrav_warnings INTERFACE
    $<$<COMPILE_LANGUAGE:CXX>:-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all>)
  target_link_options(kestrav_warnings INTERFACE -fsanitize=address,undefined)
endif()
if(KESTRAV_SANITIZE)
  target_compile_options(kestrav_warnings INTERFACE
    $<$<COMPILE_LANGUAGE:CXX>:-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer>)
  target_link_options(kestrav_warnings INTERFACE -fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

# Products and sums are rounded exactly where the arithmetic says so: no contraction of a * b + c
# into a fused multiply-add unless written as std::fma, which must be a hardware instruction.
add_library(kestrav_arith INTERFACE)
target_compile_options(kestrav_arith INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-ffp-contract=off -march=x86-64-v3 -fno-math-errno>
  $<$<COMPILE_LANGUAGE:CUDA>:--fmad=false -Xcompiler=-ffp-contract=off>)
