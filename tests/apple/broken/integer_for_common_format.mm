// expect: cannot initialize a parameter of type 'AVAudioCommonFormat' with an rvalue of type 'int'
// AVAudioCommonFormat is an NS_ENUM: a plain integer does not convert to it in C++.
#import <AVFAudio/AVFAudio.h>

AVAudioFormat* make() {
  return [[AVAudioFormat alloc] initWithCommonFormat:1 sampleRate:16000 channels:1 interleaved:NO];
}
