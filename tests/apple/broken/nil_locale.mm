// expect: null passed to a callee that requires a non-null argument
#import <Speech/Speech.h>

SFSpeechRecognizer* make() { return [[SFSpeechRecognizer alloc] initWithLocale:nil]; }
