// expect: macOS has no /proc
// Compiles anywhere, finds nothing on macOS.
#include <unistd.h>

long readOwnPath(char* buffer, unsigned long size) { return readlink("/proc/self/exe", buffer, size); }
