// OUR OWN MINIMAL DECLARATIONS, not the SDK: the Speech framework calls selvane
// makes, for the syntax check on Linux, in the form the SDK gives them: inside an
// assume-nonnull region, enums as NS_ENUM, properties with the getters they have.
#pragma once
#pragma clang system_header

#import <AVFAudio/AVFAudio.h>
#import <Foundation/Foundation.h>

NS_ASSUME_NONNULL_BEGIN

typedef NS_ENUM(NSInteger, SFSpeechRecognizerAuthorizationStatus){
    SFSpeechRecognizerAuthorizationStatusNotDetermined,
    SFSpeechRecognizerAuthorizationStatusDenied,
    SFSpeechRecognizerAuthorizationStatusRestricted,
    SFSpeechRecognizerAuthorizationStatusAuthorized,
};

typedef NS_ENUM(NSInteger, SFSpeechRecognitionTaskState){
    SFSpeechRecognitionTaskStateStarting = 0,
    SFSpeechRecognitionTaskStateRunning = 1,
    SFSpeechRecognitionTaskStateFinishing = 2,
    SFSpeechRecognitionTaskStateCanceling = 3,
    SFSpeechRecognitionTaskStateCompleted = 4,
};

@interface SFTranscription : NSObject
@property (nonatomic, readonly, copy) NSString *formattedString;
@end

@interface SFSpeechRecognitionResult : NSObject
@property (nonatomic, readonly, copy) SFTranscription *bestTranscription;
@property (nonatomic, readonly, getter=isFinal) BOOL final;
@end

@interface SFSpeechRecognitionRequest : NSObject
@property (nonatomic) BOOL shouldReportPartialResults;
@property (nonatomic) BOOL requiresOnDeviceRecognition API_AVAILABLE(ios(13), macos(10.15));
@end

@interface SFSpeechAudioBufferRecognitionRequest : SFSpeechRecognitionRequest
@property (nonatomic, readonly) AVAudioFormat *nativeAudioFormat;
- (void)appendAudioPCMBuffer:(AVAudioPCMBuffer *)audioPCMBuffer;
- (void)endAudio;
@end

@interface SFSpeechRecognitionTask : NSObject
@property (nonatomic, readonly) SFSpeechRecognitionTaskState state;
@property (nonatomic, readonly, getter=isCancelled) BOOL cancelled;
@property (nonatomic, readonly, nullable) NSError *error;
@end

@interface SFSpeechRecognizer : NSObject
+ (SFSpeechRecognizerAuthorizationStatus)authorizationStatus;
+ (void)requestAuthorization:(void (^)(SFSpeechRecognizerAuthorizationStatus status))handler;
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wnullability"
- (nullable instancetype)init;
#pragma clang diagnostic pop
- (nullable instancetype)initWithLocale:(NSLocale *)locale NS_DESIGNATED_INITIALIZER;
@property (nonatomic, readonly, getter=isAvailable) BOOL available;
@property (nonatomic, readonly, copy) NSLocale *locale;
@property (nonatomic) BOOL supportsOnDeviceRecognition API_AVAILABLE(ios(13));  // macOS: from the class
@property (nonatomic, strong) NSOperationQueue *queue;
- (SFSpeechRecognitionTask *)recognitionTaskWithRequest:(SFSpeechRecognitionRequest *)request
                                          resultHandler:(void (^)(SFSpeechRecognitionResult *_Nullable result,
                                                                  NSError *_Nullable error))resultHandler;
@end

NS_ASSUME_NONNULL_END
