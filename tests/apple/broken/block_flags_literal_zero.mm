// expect: no matching function for call to 'dispatch_block_create'
// In C++ the block flags are an enum with a fixed underlying type: a literal 0
// does not convert to it.
#include <dispatch/dispatch.h>

dispatch_block_t make() {
  return dispatch_block_create(0, ^{
  });
}
