/* Stands in for the library's ps_process_raw in a selvane under test, through
 * LD_PRELOAD: the first FATAL_DECODER_AFTER calls of a process go to the library,
 * and the next one fails as FATAL_DECODER_FAULT says: "exit" takes the library's
 * own fatal-error path (its message, then exit()), "segv" crashes. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <stdlib.h>
#include <string.h>

typedef int (*process_raw_f)(ps_decoder_t*, int16 const*, size_t, int, int);

int ps_process_raw(ps_decoder_t* ps, int16 const* data, size_t n_samples, int no_search, int full_utt) {
  static long calls = 0;  /* only the decoder thread decodes */
  process_raw_f real = (process_raw_f)dlsym(RTLD_NEXT, "ps_process_raw");
  const char* after = getenv("FATAL_DECODER_AFTER");
  const char* fault = getenv("FATAL_DECODER_FAULT");
  if (after != NULL && fault != NULL && ++calls > atol(after)) {
    if (strcmp(fault, "segv") == 0) {
      volatile int* nowhere = NULL;
      *nowhere = 1;
    }
    E_FATAL("Test fault after %s blocks\n", after);
  }
  return real(ps, data, n_samples, no_search, full_utt);
}
