#include "compute_backends.h"

#include <unistd.h>
#include <cstdlib>
#include <string>
#include <vector>

#include <ggml-backend.h>

#if !defined(__APPLE__)
namespace {

// The folder of the running executable, from /proc/self/exe; empty if unknown.
std::string executableFolder() {
  std::vector<char> path(4096);
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return "";
    if (static_cast<size_t>(length) < path.size()) {
      const std::string file(path.data(), static_cast<size_t>(length));
      const size_t slash = file.rfind('/');
      return slash == 0 ? "/" : file.substr(0, slash);
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace
#endif

// Linux only: macOS has no /proc, and the Apple build links Metal and the CPU
// backend into libggml itself, so there is nothing to load there.
void loadComputeBackends() {
#if !defined(__APPLE__)
  // Once per process: ggml would register the same backends again.
  static bool loaded = false;
  if (loaded) return;
  loaded = true;
  // ggml would load one more backend from wherever this variable points, after
  // those of the folder; the run has one thread yet, so changing it is safe.
  unsetenv("GGML_BACKEND_PATH");
  const std::string folder = executableFolder();
  if (folder.empty()) return;
  ggml_backend_load_all_from_path((folder + "/lib").c_str());
#endif
}
