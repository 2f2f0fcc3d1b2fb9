// expect: no visible @interface for 'SFSpeechAudioBufferRecognitionRequest' declares the selector
#import <Speech/Speech.h>

void append(SFSpeechAudioBufferRecognitionRequest* request, AVAudioPCMBuffer* buffer) {
  [request appendAudioPCMBuffers:buffer];
}
