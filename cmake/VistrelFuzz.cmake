# libFuzzer builds (-DVISTREL_FUZZ=ON): the core only, every target compiled with coverage
# instrumentation for the fuzzer plus AddressSanitizer and UndefinedBehaviorSanitizer; the fuzz
# targets under fuzz/ link libFuzzer's main. Needs clang.
option(VISTREL_FUZZ "Build the libFuzzer targets under fuzz/ (clang, core only)" OFF)

if(VISTREL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VISTREL_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  set(VISTREL_CORE_ONLY ON CACHE BOOL "" FORCE)
  set(VISTREL_BUILD_BENCH OFF CACHE BOOL "" FORCE)
  if(NOT VISTREL_SANITIZE)
    set(VISTREL_SANITIZE "address,undefined" CACHE STRING "" FORCE)
  endif()
endif()
