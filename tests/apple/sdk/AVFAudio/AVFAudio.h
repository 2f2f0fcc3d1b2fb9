// OUR OWN MINIMAL DECLARATIONS, not the SDK: the AVFAudio format and PCM buffer
// calls selvane makes, for the syntax check on Linux, in the form the SDK gives
// them: inside an assume-nonnull region, the common format as NS_ENUM, nullable
// initializers.
#pragma once
#pragma clang system_header

#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

typedef uint32_t AVAudioFrameCount;
typedef uint32_t AVAudioChannelCount;

typedef NS_ENUM(NSUInteger, AVAudioCommonFormat){
    AVAudioOtherFormat = 0,
    AVAudioPCMFormatFloat32 = 1,
    AVAudioPCMFormatFloat64 = 2,
    AVAudioPCMFormatInt16 = 3,
    AVAudioPCMFormatInt32 = 4,
};

@interface AVAudioFormat : NSObject
- (nullable instancetype)initWithCommonFormat:(AVAudioCommonFormat)format
                                   sampleRate:(double)sampleRate
                                     channels:(AVAudioChannelCount)channels
                                  interleaved:(BOOL)interleaved;
@property (nonatomic, readonly) double sampleRate;
@property (nonatomic, readonly) AVAudioChannelCount channelCount;
@end

@interface AVAudioBuffer : NSObject
@property (nonatomic, readonly) AVAudioFormat *format;
@end

@interface AVAudioPCMBuffer : AVAudioBuffer
- (nullable instancetype)initWithPCMFormat:(AVAudioFormat *)format
                             frameCapacity:(AVAudioFrameCount)frameCapacity NS_DESIGNATED_INITIALIZER;
@property (nonatomic, readonly) AVAudioFrameCount frameCapacity;
@property (nonatomic) AVAudioFrameCount frameLength;
@property (nonatomic, readonly) float *_Nonnull const *_Nullable floatChannelData;
@end

NS_ASSUME_NONNULL_END
