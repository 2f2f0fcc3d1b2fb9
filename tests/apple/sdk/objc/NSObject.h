// OUR OWN MINIMAL DECLARATIONS, not the SDK: the root class and the basic
// Objective-C types, in the form the SDK gives them for arm64 with ARC, for the
// syntax check on Linux. The dispatch declarations import only this, as the SDK's
// do, so code that uses Foundation must import Foundation itself.
#pragma once
#pragma clang system_header

#if !defined(__OBJC__)
#error "Objective-C stand-in included outside Objective-C"
#endif

// The SDK spells some qualifiers __nullable and __nonnull, its C library's names
// for _Nullable and _Nonnull; glibc has a __nonnull(...) of its own, so these
// declarations use the qualifiers themselves.
typedef bool BOOL;  // arm64 Apple platforms; signed char on x86_64
#define YES __objc_yes
#define NO __objc_no
#ifndef nil
#define nil nullptr
#endif
typedef long NSInteger;
typedef unsigned long NSUInteger;

#define NS_ASSUME_NONNULL_BEGIN _Pragma("clang assume_nonnull begin")
#define NS_ASSUME_NONNULL_END _Pragma("clang assume_nonnull end")
// Manual retain and release, which ARC refuses, with the SDK's message.
#define OBJC_ARC_UNAVAILABLE __attribute__((unavailable("not available in automatic reference counting mode")))

// Outside any assume-nonnull region, as in the SDK: -init is nullable in subclasses.
@protocol NSObject
- (BOOL)isEqual:(id)object;
- (instancetype)retain OBJC_ARC_UNAVAILABLE;
- (oneway void)release OBJC_ARC_UNAVAILABLE;
- (instancetype)autorelease OBJC_ARC_UNAVAILABLE;
@end

__attribute__((objc_root_class))
@interface NSObject <NSObject> {
  Class isa;
}
+ (instancetype)alloc;
+ (instancetype)new;
- (instancetype)init;
@end
