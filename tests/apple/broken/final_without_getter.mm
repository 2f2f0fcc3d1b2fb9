// expect: no visible @interface for 'SFSpeechRecognitionResult' declares the selector 'final'|instance method '-final' not found
// The property is named final, but its getter is isFinal: there is no method -final.
#import <Speech/Speech.h>

bool isFinal(SFSpeechRecognitionResult* result) { return [result final]; }
