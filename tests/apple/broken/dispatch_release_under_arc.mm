// expect: 'release' is unavailable: not available in automatic reference counting mode|ARC forbids explicit message send of 'release'|use of undeclared identifier 'dispatch_release'
// Under ARC, dispatch objects are released by ARC; dispatch_release is refused.
#include <dispatch/dispatch.h>

void make() {
  dispatch_queue_t queue = dispatch_queue_create("broken", DISPATCH_QUEUE_SERIAL);
  dispatch_release(queue);
}
