// expect: use of undeclared identifier 'F_SETPIPE_SZ'
// A Linux-only flag in code that every platform compiles.
#include <fcntl.h>

int growPipe(int fd) { return fcntl(fd, F_SETPIPE_SZ, 1 << 20); }
