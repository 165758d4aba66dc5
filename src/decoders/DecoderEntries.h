#pragma once

#include <QByteArray>
#include <QImage>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QObject;

// What the decoder module hands back, and its entry points. The module holds
// the decoding libraries (FFmpeg, libsndfile) and the audio output (Qt
// Multimedia); the program loads it the first time a sound or an animation is
// needed, so a tray icon at rest does not map them. Paths are in the file
// system's encoding; file names are the desktop text the messages quote. An
// entry answers an empty error text on success.

// A decoded wave: interleaved signed 16-bit samples.
struct TWaveSound
{
    int SampleRate = 0;
    int Channels = 0;
    QByteArray Samples;

    int64_t FrameCount() const { return Channels <= 0 ? 0 : Samples.size() / (2 * Channels); }
};

// The frames of an AVI file, decoded whole (a notification animation is a
// few dozen small frames), and the time each frame stays on screen.
struct TAnimationClip
{
    std::vector<QImage> Frames;
    int FrameInterval = 100; // milliseconds
};

// Bounds on an animation: a notification clip is a few dozen small frames.
constexpr int MaxAnimationFrames = 2000;
constexpr int MaxAnimationSide = 2048;

// Milliseconds per frame of a clip of `rate` frames in `scale` seconds,
// between 10 ms and 10 s. Clamped before the conversion: a file may claim
// hours per frame.
inline int FrameIntervalOf(double scale, double rate)
{
    return int(std::clamp(1000.0 * scale / rate + 0.5, 10.0, 10000.0));
}

// Largest sound we decode into memory; a notification chime is a few KB.
constexpr int64_t MaxWaveBytes = 256LL * 1024 * 1024;

// A sound playing on the desktop's audio output; deleting it stops it.
class TSoundOutput
{
public:
    virtual ~TSoundOutput() = default;
    // How much of the sound the output has played since it started.
    virtual int64_t PlayedMicroseconds() const = 0;
};

// Starts `sound` at `frame` on the default audio output and returns it, or
// null when there is no output or it does not take the sound's format.
// `ended` is called on `context`'s thread, queued, with true once every
// sample has been played and false when the output stops on its own.
using TStartSoundEntry = TSoundOutput* (*)(const TWaveSound* sound, int64_t frame, QObject* context,
                                           const std::function<void(bool)>* ended);

using TDecodeAnimationEntry = void (*)(const std::string* path, const std::string* fileName,
                                       TAnimationClip* clip, std::string* error);
using TDecodeWaveEntry = void (*)(const std::string* path, const std::string* fileName,
                                  TWaveSound* sound, std::string* error);

constexpr const char* DecodeAnimationEntryName = "ternbell_decode_animation";
constexpr const char* DecodeWaveEntryName = "ternbell_decode_wave";
constexpr const char* StartSoundEntryName = "ternbell_start_sound";

// The module's file name, beside the executable.
constexpr const char* DecoderModuleFileName = "ternbell-decoders.so";
