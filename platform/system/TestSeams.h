#pragma once

// The seams through which tests and benchmarks watch or steer the program from inside (an observer
// of the calls to the service manager, a hook before every step that changes a file, counters of
// work done, setters that point a reader elsewhere) exist only in the builds that read the test
// variables (TASKVANE_TEST_VARIABLES, see TestVariables.h). Elsewhere, in the package and the
// release build, there is nothing of them:
// - their setters, counters and observer types are declared under `#if TASKVANE_TEST_SEAMS`, so a
//   test that needs one does not build without the option instead of passing without its seam;
// - their call sites are wrapped in TASKVANE_TEST_SEAM(...), which compiles to nothing there (a
//   longer piece stands in `#if TASKVANE_TEST_SEAMS`), so no branch, call or argument of a seam is
//   left on the program's paths.
// tests/package/contents.sh checks that the packaged program holds none of the names declared
// under the switch (tests/package/seams.sh lists them).

#ifndef TASKVANE_TEST_VARIABLES
#error "TASKVANE_TEST_VARIABLES is defined (0 or 1) for everything that links tv_platform"
#endif

#define TASKVANE_TEST_SEAMS TASKVANE_TEST_VARIABLES

#if TASKVANE_TEST_SEAMS
#define TASKVANE_TEST_SEAM(...)                                                                                        \
    do {                                                                                                               \
        __VA_ARGS__;                                                                                                   \
    } while (false)
#else
#define TASKVANE_TEST_SEAM(...)                                                                                        \
    do {                                                                                                               \
    } while (false)
#endif
