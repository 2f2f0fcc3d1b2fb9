// expect: cannot initialize a parameter of type 'void \(\^ _Nonnull\)\(SFSpeechRecognitionResult \* _Nullable __strong, NSError
// A result handler that takes only the result: the framework calls it with two.
#import <Speech/Speech.h>

void startTask(SFSpeechRecognizer* recognizer, SFSpeechRecognitionRequest* request) {
  [recognizer recognitionTaskWithRequest:request
                           resultHandler:^(SFSpeechRecognitionResult* result) {
                             (void)result;
                           }];
}
