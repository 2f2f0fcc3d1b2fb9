// OUR OWN MINIMAL DECLARATIONS, not the SDK: the Grand Central Dispatch calls
// selvane makes, for the syntax check on Linux. As in the SDK, dispatch objects
// are Objective-C objects managed by ARC in Objective-C(++), and pointers to
// opaque structs released with dispatch_release in plain C and C++.
#pragma once
#pragma clang system_header

#include <stddef.h>
#include <stdint.h>

#if !defined(__BLOCKS__)
#error "dispatch stand-in needs -fblocks"
#endif

#if defined(__OBJC__)
#import <Foundation/Foundation.h>
#endif

#pragma clang assume_nonnull begin

#if defined(__OBJC__)
@protocol OS_dispatch_object <NSObject>
@end
@protocol OS_dispatch_queue <OS_dispatch_object>
@end
@protocol OS_dispatch_queue_main <OS_dispatch_queue>
@end
@protocol OS_dispatch_queue_attr <OS_dispatch_object>
@end
@protocol OS_dispatch_semaphore <OS_dispatch_object>
@end
typedef NSObject<OS_dispatch_queue> *dispatch_queue_t;
typedef NSObject<OS_dispatch_queue_main> *dispatch_queue_main_t;
typedef NSObject<OS_dispatch_queue_attr> *dispatch_queue_attr_t;
typedef NSObject<OS_dispatch_semaphore> *dispatch_semaphore_t;
#else
typedef struct dispatch_queue_s *dispatch_queue_t;
typedef struct dispatch_queue_s *dispatch_queue_main_t;
typedef struct dispatch_queue_attr_s *dispatch_queue_attr_t;
typedef struct dispatch_semaphore_s *dispatch_semaphore_t;
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint64_t dispatch_time_t;
#define DISPATCH_TIME_NOW (0ull)
#define DISPATCH_TIME_FOREVER (~0ull)
#define NSEC_PER_SEC 1000000000ull
#define NSEC_PER_MSEC 1000000ull
#define DISPATCH_QUEUE_SERIAL NULL

typedef void (^dispatch_block_t)(void);
typedef unsigned long dispatch_block_flags_t;

dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta);

dispatch_semaphore_t dispatch_semaphore_create(intptr_t value);
intptr_t dispatch_semaphore_wait(dispatch_semaphore_t dsema, dispatch_time_t timeout);
intptr_t dispatch_semaphore_signal(dispatch_semaphore_t dsema);

dispatch_queue_t dispatch_queue_create(const char *_Nullable label, dispatch_queue_attr_t _Nullable attr);
dispatch_queue_main_t dispatch_get_main_queue(void);
void dispatch_async(dispatch_queue_t queue, dispatch_block_t block);
void dispatch_sync(dispatch_queue_t queue, dispatch_block_t block);
void dispatch_after(dispatch_time_t when, dispatch_queue_t queue, dispatch_block_t block);
__attribute__((noreturn)) void dispatch_main(void);

dispatch_block_t dispatch_block_create(dispatch_block_flags_t flags, dispatch_block_t block);
void dispatch_block_cancel(dispatch_block_t block);
intptr_t dispatch_block_testcancel(dispatch_block_t block);

#if !defined(__OBJC__)
void dispatch_release(void *object);
#endif

#ifdef __cplusplus
}
#endif

#pragma clang assume_nonnull end
