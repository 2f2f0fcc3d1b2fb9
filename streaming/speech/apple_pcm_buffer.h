// What a PcmBuffer holds on Apple: the AVAudioPCMBuffer itself, which the Apple
// recognizer appends to its request as it is. Objective-C++ (ARC) only.
#pragma once

#if !__has_feature(objc_arc)
#error "apple_pcm_buffer.h is for Objective-C++ compiled with -fobjc-arc"
#endif

#import <AVFAudio/AVFAudio.h>

#include "speech/pcm_buffer.h"

namespace speech {

struct PcmBuffer::Storage {
  AVAudioPCMBuffer* buffer = nil;  // strong; released with the PcmBuffer
};

}  // namespace speech
