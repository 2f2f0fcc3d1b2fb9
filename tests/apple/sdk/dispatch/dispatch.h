// OUR OWN MINIMAL DECLARATIONS, not the SDK: the Grand Central Dispatch calls
// selvane makes, for the syntax check on Linux, in the form the SDK gives them to
// C++ and Objective-C++ for a macOS 15 target:
// - option sets are enums with a fixed underlying type and named constants, so a
//   plain integer does not convert to them;
// - in Objective-C(++) dispatch objects are Objective-C objects managed by ARC
//   (OS_OBJECT_USE_OBJC is 1), and dispatch_release sends -release, which ARC
//   refuses; in plain C++ they are pointers to opaque structs released with
//   dispatch_release.
#pragma once
#pragma clang system_header

#include <stddef.h>
#include <stdint.h>

#if !defined(__BLOCKS__)
#error "dispatch stand-in needs -fblocks"
#endif

#if defined(__OBJC__)
#define OS_OBJECT_USE_OBJC 1
#import <objc/NSObject.h>
#else
#define OS_OBJECT_USE_OBJC 0
#endif

#define DISPATCH_NOTHROW __attribute__((__nothrow__))
#define DISPATCH_NORETURN __attribute__((__noreturn__))
#define DISPATCH_WARN_RESULT __attribute__((__warn_unused_result__))
#if OS_OBJECT_USE_OBJC && __has_feature(objc_arc)
#define DISPATCH_RETURNS_RETAINED __attribute__((__ns_returns_retained__))
#define OS_OBJECT_BRIDGE __bridge
#else
#define DISPATCH_RETURNS_RETAINED
#define OS_OBJECT_BRIDGE
#endif
#define DISPATCH_RETURNS_RETAINED_BLOCK DISPATCH_RETURNS_RETAINED

// Enums and option sets: an enum with a fixed underlying type in C++ and
// Objective-C(++), open to values beyond the named ones; options are flags.
#define DISPATCH_ENUM(name, type, ...) \
  typedef enum : type { __VA_ARGS__ } __attribute__((__enum_extensibility__(open))) name##_t
#define DISPATCH_OPTIONS(name, type, ...)                                                  \
  typedef enum : type { __VA_ARGS__ } __attribute__((__flag_enum__))                      \
  __attribute__((__enum_extensibility__(open))) name##_t

#pragma clang assume_nonnull begin

#if OS_OBJECT_USE_OBJC
// Each dispatch type is an NSObject conforming to a protocol of its own; a
// subclass's protocol adopts its base's.
#define DISPATCH_DECL(name)                   \
  @protocol OS_##name <OS_dispatch_object> \
  @end                                        \
  typedef NSObject<OS_##name> *name##_t
#define DISPATCH_DECL_SUBCLASS(name, base) \
  @protocol OS_##name <OS_##base>       \
  @end                                     \
  typedef NSObject<OS_##name> *name##_t
@protocol OS_dispatch_object <NSObject>
@end
typedef NSObject<OS_dispatch_object> *dispatch_object_t;
#else
// Opaque structs that no one constructs, copies or destroys but the library.
typedef struct dispatch_object_s {
 private:
  dispatch_object_s();
  ~dispatch_object_s();
  dispatch_object_s(const dispatch_object_s &);
  void operator=(const dispatch_object_s &);
} *dispatch_object_t;
#define DISPATCH_DECL(name) typedef struct name##_s : public dispatch_object_s { } *name##_t
#define DISPATCH_DECL_SUBCLASS(name, base) typedef struct name##_s : public base##_s { } *name##_t
#endif

DISPATCH_DECL(dispatch_queue);
DISPATCH_DECL_SUBCLASS(dispatch_queue_serial, dispatch_queue);
DISPATCH_DECL_SUBCLASS(dispatch_queue_main, dispatch_queue_serial);
DISPATCH_DECL(dispatch_queue_attr);
DISPATCH_DECL(dispatch_semaphore);

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

DISPATCH_OPTIONS(dispatch_block_flags, unsigned long,
                 DISPATCH_BLOCK_BARRIER = 0x1,
                 DISPATCH_BLOCK_DETACHED = 0x2,
                 DISPATCH_BLOCK_ASSIGN_CURRENT = 0x4,
                 DISPATCH_BLOCK_NO_QOS_CLASS = 0x8,
                 DISPATCH_BLOCK_INHERIT_QOS_CLASS = 0x10,
                 DISPATCH_BLOCK_ENFORCE_QOS_CLASS = 0x20, );

DISPATCH_WARN_RESULT DISPATCH_NOTHROW dispatch_time_t dispatch_time(dispatch_time_t when, int64_t delta);

DISPATCH_RETURNS_RETAINED DISPATCH_WARN_RESULT DISPATCH_NOTHROW dispatch_semaphore_t
dispatch_semaphore_create(intptr_t value);
DISPATCH_NOTHROW intptr_t dispatch_semaphore_wait(dispatch_semaphore_t dsema, dispatch_time_t timeout);
DISPATCH_NOTHROW intptr_t dispatch_semaphore_signal(dispatch_semaphore_t dsema);

DISPATCH_RETURNS_RETAINED DISPATCH_WARN_RESULT DISPATCH_NOTHROW dispatch_queue_t
dispatch_queue_create(const char *_Nullable label, dispatch_queue_attr_t _Nullable attr);

// The main queue is a global object that the library owns; the function is inline.
extern struct dispatch_queue_s _dispatch_main_q;
static inline __attribute__((__always_inline__)) DISPATCH_NOTHROW dispatch_queue_main_t
dispatch_get_main_queue(void) {
  return (OS_OBJECT_BRIDGE dispatch_queue_main_t) & _dispatch_main_q;
}

DISPATCH_NOTHROW void dispatch_async(dispatch_queue_t queue, dispatch_block_t block);
DISPATCH_NOTHROW void dispatch_sync(dispatch_queue_t queue, __attribute__((__noescape__)) dispatch_block_t block);
DISPATCH_NOTHROW void dispatch_after(dispatch_time_t when, dispatch_queue_t queue, dispatch_block_t block);
DISPATCH_NOTHROW DISPATCH_NORETURN void dispatch_main(void);

DISPATCH_RETURNS_RETAINED_BLOCK DISPATCH_WARN_RESULT DISPATCH_NOTHROW dispatch_block_t
dispatch_block_create(dispatch_block_flags_t flags, dispatch_block_t block);
DISPATCH_NOTHROW void dispatch_block_cancel(dispatch_block_t block);
DISPATCH_WARN_RESULT DISPATCH_NOTHROW intptr_t dispatch_block_testcancel(dispatch_block_t block);

DISPATCH_NOTHROW void dispatch_retain(dispatch_object_t object);
DISPATCH_NOTHROW void dispatch_release(dispatch_object_t object);

#ifdef __cplusplus
}
#endif

#if OS_OBJECT_USE_OBJC
// As in the SDK: with Objective-C objects, retain and release are messages.
#undef dispatch_retain
#define dispatch_retain(object) \
  __extension__({ dispatch_object_t _o = (object); (void)[_o retain]; })
#undef dispatch_release
#define dispatch_release(object) \
  __extension__({ dispatch_object_t _o = (object); [_o release]; })
#endif

#pragma clang assume_nonnull end
