// expect: call to (implicitly-)?deleted (copy )?constructor of 'const std::unique_ptr<int>'
// A block copies what it captures, so a move-only value cannot be captured.
#include <dispatch/dispatch.h>

#include <memory>

void post(std::unique_ptr<int> value) {
  dispatch_async(dispatch_get_main_queue(), ^{
    (void)*value;
  });
}
