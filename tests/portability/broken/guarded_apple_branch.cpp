// expect: use of undeclared identifier 'accept4'
// The Apple branch of a guard is what the check compiles: a GNU call there fails.
#include <sys/socket.h>

int acceptClient(int server) {
#if defined(__APPLE__)
  return accept4(server, nullptr, nullptr, 0);
#else
  return accept(server, nullptr, nullptr);
#endif
}
