// The wave decoder of the decoder module: libsndfile, mapped only once a
// sound is first played. The file's layout is checked before this is asked.
#include "decoders/DecoderEntries.h"

#include <sndfile.h>

#include <memory>
#include <string>

namespace
{

struct SndFileCloser
{
    void operator()(SNDFILE* file) const { sf_close(file); }
};

std::string Decode(const std::string& path, const std::string& fileName, TWaveSound& result)
{
    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndFileCloser> sound(sf_open(path.c_str(), SFM_READ, &info));
    if (!sound)
        return "The file \"" + fileName + "\" is not a wave sound file (" + sf_strerror(nullptr) + ").";
    const int major = info.format & SF_FORMAT_TYPEMASK;
    if ((major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX) || info.channels < 1 || info.channels > 8
        || info.samplerate < 1000 || info.samplerate > 384000)
        return "The file \"" + fileName + "\" is not a wave sound file.";

    result.SampleRate = info.samplerate;
    result.Channels = info.channels;
    const int64_t frames = info.frames;
    if (frames < 0 || frames * info.channels * 2 > 4 * MaxWaveBytes)
        return "The sound file \"" + fileName + "\" is too large.";
    result.Samples.resize(qsizetype(frames * info.channels * 2));
    const sf_count_t read = sf_readf_short(sound.get(), reinterpret_cast<short*>(result.Samples.data()), frames);
    if (read != frames)
        return "The file \"" + fileName + "\" is cut short.";
    return {};
}

} // namespace

extern "C" void ternbell_decode_wave(const std::string* path, const std::string* fileName, TWaveSound* sound,
                                     std::string* error)
{
    try
    {
        *error = Decode(*path, *fileName, *sound);
    }
    catch (const std::exception& e)
    {
        *error = "The file \"" + *fileName + "\" cannot be decoded (" + e.what() + ").";
    }
}
