// expect: attempt to use a poisoned identifier
// glibc declares SOCK_CLOEXEC even without its extensions; macOS has no such flag.
#include <sys/socket.h>

int openSocket() { return socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0); }
