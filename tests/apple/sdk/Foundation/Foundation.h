// OUR OWN MINIMAL DECLARATIONS, not the SDK: only the part of Foundation that
// selvane's Objective-C++ files use, written for the syntax check on Linux.
// Selectors, types and nullability follow the Apple API notes the project keeps;
// a declaration missing here makes the check fail, one too many would hide a fault,
// so add only what the code calls.
#pragma once
#pragma clang system_header

#if !defined(__OBJC__)
#error "Foundation stand-in included outside Objective-C"
#endif

#include <stdint.h>

#import <objc/NSObject.h>

// enum_extensibility(open): values beyond the named ones may come, as in the SDK.
#define NS_ENUM(_type, _name) \
  enum __attribute__((enum_extensibility(open))) _name : _type _name; \
  enum __attribute__((enum_extensibility(open))) _name : _type
#define NS_DESIGNATED_INITIALIZER __attribute__((objc_designated_initializer))
#define NS_RETURNS_INNER_POINTER __attribute__((objc_returns_inner_pointer))
#define API_AVAILABLE(...)

NS_ASSUME_NONNULL_BEGIN

@interface NSString : NSObject
+ (nullable instancetype)stringWithUTF8String:(const char *)nullTerminatedCString;  // what @(cString) calls
@property (nullable, readonly) const char *UTF8String NS_RETURNS_INNER_POINTER;
- (BOOL)isEqualToString:(NSString *)aString;
@end

typedef NSString *NSErrorDomain;

@interface NSError : NSObject
@property (readonly, copy) NSErrorDomain domain;
@property (readonly) NSInteger code;
@property (readonly, copy) NSString *localizedDescription;
@end

@interface NSLocale : NSObject
+ (instancetype)localeWithLocaleIdentifier:(NSString *)ident;
@property (readonly, copy) NSString *localeIdentifier;
@end

@interface NSOperationQueue : NSObject
@end

NS_ASSUME_NONNULL_END
