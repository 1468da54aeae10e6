# AddressSanitizer and UndefinedBehaviorSanitizer for every target defined
# after this file is included (the core, the unit tests, the module, the fuzz
# target).  Any report ends the program: nothing is allowed to recover.
#
#   cmake -S . -B build/asan -DORDAVINE_SANITIZE=ON -DORDAVINE_BUILD_TESTS=ON \
#     -DORDAVINE_BUILD_MODULE=OFF
#
# A sanitized module links the shared sanitizer runtimes, which must be
# loaded before anything else: run the interpreter with
# LD_PRELOAD="$(g++ -print-file-name=libasan.so)" (see tests/hardening.sh).
option(ORDAVINE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(ORDAVINE_SANITIZE)
  set(ORDAVINE_SANITIZER_FLAGS
    -fsanitize=address,undefined
    -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
  # -O1 keeps instrumented builds quick to compile and their reports exact;
  # it comes after the build type's flags and so takes precedence.  With
  # clang, line tables (inlined calls included) are all the debug information
  # the reports' stacks need; they compile about a seventh faster than full -g.
  add_compile_options(${ORDAVINE_SANITIZER_FLAGS} $<IF:$<CXX_COMPILER_ID:Clang>,-gline-tables-only,-g> -O1
    # Bounds checks on std::array and std::vector subscripts as well.
    -D_GLIBCXX_ASSERTIONS)
  add_link_options(${ORDAVINE_SANITIZER_FLAGS})
endif()
