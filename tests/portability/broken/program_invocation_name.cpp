// expect: use of undeclared identifier 'program_invocation_name'
// A glibc variable; macOS has getprogname instead.
#include <errno.h>

const char* programName() { return program_invocation_name; }
