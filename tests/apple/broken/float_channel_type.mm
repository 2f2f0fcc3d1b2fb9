// expect: cannot initialize a variable of type 'double \*const \*'
#import <AVFAudio/AVFAudio.h>

void fill(AVAudioPCMBuffer* buffer) {
  double* const* channels = buffer.floatChannelData;
  (void)channels;
}
