// The start-up sound: a wave file played asynchronously through the desktop's
// event-sound service (libcanberra), or the desktop's default event sound when
// the file is missing or cannot be played.
#pragma once

#include <string>

class CSplashSound {
public:
    // Returns at once; the sound plays on by itself. Nothing is reported: a
    // desktop without a sound service simply stays silent.
    static void Play(const std::string& strWaveFile);
};
