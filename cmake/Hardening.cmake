# Sanitizer and fuzzer builds. Included from the top-level CMakeLists after
# orbelm_options exists; every target of the project links that, so the
# flags reach the core, the program, the tests and the fuzzers alike.
#
#   -DORBELM_SANITIZE=ON  AddressSanitizer and UndefinedBehaviorSanitizer,
#                         any error ends the process (g++ or clang)
#   -DORBELM_TSAN=ON      ThreadSanitizer (the look-ahead workers); a race
#                         report fails the process (g++ or clang)
#   -DORBELM_FUZZ=ON      the libFuzzer targets of fuzz/, with the same
#                         sanitizers (clang only)

option(ORBELM_SANITIZE "Build with AddressSanitizer and UBSan" OFF)
option(ORBELM_FUZZ "Build the libFuzzer targets (clang only)" OFF)
option(ORBELM_TSAN "Build with ThreadSanitizer" OFF)

if(ORBELM_TSAN AND (ORBELM_SANITIZE OR ORBELM_FUZZ))
  message(FATAL_ERROR "ORBELM_TSAN cannot be combined with AddressSanitizer")
endif()
if(ORBELM_TSAN)
  # halt_on_error is set at run time (TSAN_OPTIONS, see .ci/run): a report
  # then fails the test that ran into it.
  set(ORBELM_TSAN_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
  target_compile_options(orbelm_options INTERFACE ${ORBELM_TSAN_FLAGS})
  target_link_options(orbelm_options INTERFACE ${ORBELM_TSAN_FLAGS})
endif()

if(ORBELM_SANITIZE OR ORBELM_FUZZ)
  # A sanitizer report that lets the process go on would let a test pass
  # after undefined behaviour, so every check aborts.
  set(ORBELM_SANITIZER_FLAGS
    -fsanitize=address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
  target_compile_options(orbelm_options INTERFACE ${ORBELM_SANITIZER_FLAGS})
  target_link_options(orbelm_options INTERFACE ${ORBELM_SANITIZER_FLAGS})
endif()

if(ORBELM_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ORBELM_FUZZ needs clang (libFuzzer): "
                        "configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  # Coverage instrumentation for everything; only the fuzz targets link
  # libFuzzer's main.
  target_compile_options(orbelm_options INTERFACE -fsanitize=fuzzer-no-link)
endif()
