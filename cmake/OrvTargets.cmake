# Helpers shared by every layer's CMakeLists.txt.

# Driver code (the core, the hardware library, the X driver and the kernel
# module) builds without run-time type information and without exceptions.
function(orv_driver_code target)
  target_compile_options(${target} PRIVATE -fno-rtti -fno-exceptions)
endfunction()

# A test program is started once for every test case, and a program
# loaded at a random address first applies every one of its relocations
# (hundreds of thousands in a large instrumented test program): test
# programs and fuzz targets are linked at a fixed address.
function(orv_fixed_address target)
  if(ORV_LINK_NO_PIE)
    target_link_options(${target} PRIVATE -no-pie)
  endif()
endfunction()

# Test sources compiled on their own, outside the batches of orv_test: each
# defines a name at file scope (a constant, a fixture's data, a helper) that
# another source of its program defines too.
set(ORV_TEST_SOURCES_ALONE
  core/tests/mm_manager_test.cpp
  core/tests/os_services_test.cpp
  hwsharing/chip/tests/sysclock_test.cpp
  hwsharing/hal/tests/hal_entries_test.cpp
  hwsharing/hal/tests/monitor_test.cpp
  hwsharing/hal/tests/timing_tables_test.cpp
  hwsharing/outputs/tests/intermediate_test.cpp
  hwsharing/outputs/tests/mode_validate_test.cpp
  kernel/tests/handle_table_test.cpp
  kernel/tests/interrupts_test.cpp
  platform/xserver/tests/fake_kernel_test.cpp
  platform/xserver/tests/xaa_test.cpp
  platform/xserver/tests/xv_test.cpp
  tests/e2e/flip_test.cpp
  tests/e2e/hostile_client_test.cpp
  tests/e2e/loss_test.cpp
  tests/e2e/teardown_test.cpp
  xdriver/tests/cursor_test.cpp
)

# orv_test(NAME name SOURCES ... LIBS ...)
# One GoogleTest executable; every test case becomes its own CTest test so
# that `ctest -j` spreads them over the cores.
function(orv_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT ORV_BUILD_TESTS)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  # A test program's sources are compiled a few at a time in one unit: the
  # test framework's and the suite's headers are read once per batch, not
  # once per file, which is most of what a test source costs to compile.
  set_target_properties(${T_NAME} PROPERTIES UNITY_BUILD ${ORV_TEST_UNITY_BUILD}
                                             UNITY_BUILD_BATCH_SIZE ${ORV_TEST_UNITY_BATCH})
  foreach(source IN LISTS T_SOURCES)
    get_filename_component(path ${source} ABSOLUTE)
    file(RELATIVE_PATH path ${CMAKE_SOURCE_DIR} ${path})
    if(path IN_LIST ORV_TEST_SOURCES_ALONE)
      set_source_files_properties(${source} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
    endif()
  endforeach()
  # The driver libraries reach the X server's services from wherever the
  # linker pulls them in: the server stand-in comes whole.
  list(TRANSFORM T_LIBS REPLACE "^orv_xserver$" "$<LINK_LIBRARY:WHOLE_ARCHIVE,orv_xserver>")
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  # The coverage counters guide the fuzz targets through the libraries; a
  # test's own code is never fuzzed and goes without them.
  if(ORV_FUZZ_COVERAGE)
    target_compile_options(${T_NAME} PRIVATE -fno-sanitize=fuzzer-no-link)
  endif()
  if(ORV_DRIVER_OPTIMIZE AND NOT ORV_FUZZ_BUILD)
    target_compile_options(${T_NAME} PRIVATE -O0)
  endif()
  orv_fixed_address(${T_NAME})
  # Under the leak checker every test process maps, at start-up, the
  # writable data the check reads at exit in one go, not a page at a time
  # (tests/support/leak_check_prefault.cpp).
  if(ORV_SANITIZE)
    if(NOT TARGET orv_leak_check_prefault)
      add_library(orv_leak_check_prefault OBJECT
                  ${CMAKE_SOURCE_DIR}/tests/support/leak_check_prefault.cpp)
    endif()
    target_link_libraries(${T_NAME} PRIVATE orv_leak_check_prefault)
  endif()
  # The test cases are listed when the program is linked, on the cores the
  # build keeps busy, and not one program after the other when ctest starts.
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE POST_BUILD
    DISCOVERY_TIMEOUT 60
    WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
    PROPERTIES ENVIRONMENT "ORV_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
               TIMEOUT 300)
endfunction()

# orv_bench(NAME name SOURCES ... LIBS ...)
function(orv_bench)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT ORV_BUILD_BENCH)
    return()
  endif()
  add_executable(${B_NAME} ${B_SOURCES})
  list(TRANSFORM B_LIBS REPLACE "^orv_xserver$" "$<LINK_LIBRARY:WHOLE_ARCHIVE,orv_xserver>")
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark benchmark::benchmark_main)
endfunction()

# An ARGS entry for targets that reach thousands of edges per input.
# libFuzzer weighs inputs by the features seen fewer than
# -entropic_feature_frequency_threshold times (255 by default) and looks
# every feature an input reaches up in that list; such a target spent up to
# half its time there. 16 keeps the schedule and its list short.
set(ORV_FUZZ_FEW_RARE_FEATURES -entropic_feature_frequency_threshold=16)

# orv_fuzz(NAME name SOURCES ... LIBS ... CORPUS dir... [RUNS n] [ARGS ...]
#          [SEED_PREFIX hex SEED_FILES file...])
# A libFuzzer target for a parser of outside input, built only by clang (in
# the test build of `make test` beside the tests, and in the optimised fuzz
# build of `make fuzz-soak`), with a short run from its seeds as a CTest
# test labelled "fuzz", and an entry under fuzz-targets/ for `make
# fuzz-soak`. The seeds are the inputs of the CORPUS folders (not their
# README), written into <name>_seeds of the build tree at every build; a
# target whose input puts bytes of its own in front of a real input (a
# control byte before an EDID) is seeded from the real inputs too:
# SEED_FILES, each behind SEED_PREFIX. New inputs go to the build tree,
# never the corpus. The target links the shorter wait bounds of
# tests/support/fuzz_wait_bounds.cpp.
function(orv_fuzz)
  cmake_parse_arguments(F "" "NAME;RUNS;SEED_PREFIX" "SOURCES;LIBS;ARGS;CORPUS;SEED_FILES" ${ARGN})
  if(NOT ORV_BUILD_TESTS OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    return()
  endif()
  if(NOT F_RUNS)
    set(F_RUNS 20000)
  endif()
  add_executable(${F_NAME} ${F_SOURCES}
    ${CMAKE_SOURCE_DIR}/tests/support/fuzz_sanitizer_options.cpp
    ${CMAKE_SOURCE_DIR}/tests/support/fuzz_wait_bounds.cpp)
  list(TRANSFORM F_LIBS REPLACE "^orv_xserver$" "$<LINK_LIBRARY:WHOLE_ARCHIVE,orv_xserver>")
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  orv_fixed_address(${F_NAME})
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  set(seeds ${CMAKE_CURRENT_BINARY_DIR}/${F_NAME}_seeds)
  set(write_seeds bash ${CMAKE_SOURCE_DIR}/scripts/fuzz-seeds.sh ${seeds})
  set(prefixed_seeds)
  if(F_SEED_FILES)
    set(prefixed_seeds COMMAND ${write_seeds} prefix=${F_SEED_PREFIX} ${F_SEED_FILES})
  endif()
  add_custom_target(${F_NAME}_seeds
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${seeds}
    COMMAND ${write_seeds} prefix= ${F_CORPUS}
    ${prefixed_seeds}
    COMMENT "Seeds of ${F_NAME}" VERBATIM)
  add_dependencies(${F_NAME} ${F_NAME}_seeds)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${F_NAME}_new)
  file(MAKE_DIRECTORY ${out})
  # What `make fuzz-soak` runs: the program, its seeds and its arguments.
  string(JOIN " " args ${F_ARGS})
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzz-targets/${F_NAME}.txt
       CONTENT "$<TARGET_FILE:${F_NAME}>\n${seeds}\n${args}\n")
  # The short run is a check every build repeats, so it takes a fixed seed:
  # a failure in it comes back on the next run and on another machine.
  # Exploring with fresh seeds is what the soak is for.
  add_test(NAME ${F_NAME}_short
           COMMAND ${F_NAME} -seed=1 -runs=${F_RUNS} ${F_ARGS} ${out} ${seeds})
  set_tests_properties(${F_NAME}_short PROPERTIES LABELS fuzz TIMEOUT 600)
  add_dependencies(orv_fuzzers ${F_NAME})
endfunction()
