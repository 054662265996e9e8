// The check every fuzz target makes on its results: a broken expectation is
// named (line and expression) on standard error before the process aborts,
// so a crash explains itself.
#ifndef ZORVEX_FUZZ_FUZZ_CHECK_H_
#define ZORVEX_FUZZ_FUZZ_CHECK_H_

#include <cstdio>
#include <cstdlib>

#define Check(expr)                                                   \
  do {                                                                \
    if (!(expr)) {                                                    \
      std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, \
                   #expr);                                            \
      std::abort();                                                   \
    }                                                                 \
  } while (0)

#endif  // ZORVEX_FUZZ_FUZZ_CHECK_H_
