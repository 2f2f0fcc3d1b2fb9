// expect: implicit conversion from nullable pointer 'AVAudioFormat \* _Nullable' to non-nullable pointer type 'AVAudioFormat \* _Nonnull'
// The format's initializer may give nil, and the buffer's requires a format.
#import <AVFAudio/AVFAudio.h>

AVAudioPCMBuffer* make() {
  return [[AVAudioPCMBuffer alloc]
      initWithPCMFormat:[[AVAudioFormat alloc] initWithCommonFormat:AVAudioPCMFormatFloat32
                                                          sampleRate:16000
                                                            channels:1
                                                         interleaved:NO]
          frameCapacity:1600];
}
