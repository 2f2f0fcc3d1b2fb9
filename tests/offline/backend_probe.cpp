// A library that says on standard output that it was loaded: set as
// GGML_BACKEND_PATH, it shows whether tovrin let ggml load a backend from there.
#include <unistd.h>

__attribute__((constructor)) static void sayLoaded() {
  const char line[] = "backend probe loaded\n";
  (void)!write(STDOUT_FILENO, line, sizeof line - 1);
}
