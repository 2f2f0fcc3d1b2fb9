// expect: use of undeclared identifier 'pipe2'
// A GNU call: macOS has only pipe.
#include <fcntl.h>
#include <unistd.h>

bool openPipe(int fds[2]) { return pipe2(fds, O_CLOEXEC) == 0; }
