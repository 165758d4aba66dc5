#include "desktop/MediaPlayer.h"

#include "desktop/DecoderModule.h"
#include "desktop/MediaLayout.h"
#include "platform/CodePage.h"

#include <QFile>

#include <algorithm>
#include <cstring>

namespace
{
constexpr qint64 LayoutHeadBytes = 64 * 1024;
}

void CheckWaveFile(const std::string& fileName)
{
    QFile file(FromCodePage(fileName));
    if (fileName.empty() || !file.open(QIODevice::ReadOnly))
        throw EMediaError("Cannot open the sound file \"" + fileName + "\".");
    if (file.size() > MaxWaveBytes)
        throw EMediaError("The sound file \"" + fileName + "\" is too large.");
    const QByteArray head = file.read(LayoutHeadBytes);
    const std::string layout =
        WaveLayoutError(std::string_view(head.constData(), size_t(head.size())), uint64_t(file.size()));
    if (!layout.empty())
        throw EMediaError("The file \"" + fileName + "\" " + layout + ".");
}

TWaveSound LoadWaveFile(const std::string& fileName)
{
    CheckWaveFile(fileName);
    const std::string path = CodePageToFileName(fileName);
    const auto decode = DecoderEntry<TDecodeWaveEntry>(DecodeWaveEntryName);
    TWaveSound result;
    std::string error;
    decode(&path, &fileName, &result, &error);
    if (!error.empty())
        throw EMediaError(error);
    return result;
}

TMediaPlayer::TMediaPlayer(QObject* parent) : QObject(parent)
{
    FEndTimer.setSingleShot(true);
    connect(&FEndTimer, &QTimer::timeout, this, [this] { Finish(FSound.FrameCount()); });
}

TMediaPlayer::~TMediaPlayer()
{
    Stop();
}

void TMediaPlayer::Open()
{
    Close();
    CheckWaveFile(FileName);
    FOpenedFile = FileName;
    FOpen = true;
}

void TMediaPlayer::Decode()
{
    if (!FDecoded)
    {
        FSound = LoadWaveFile(FOpenedFile);
        FDecoded = true;
    }
}

void TMediaPlayer::Play()
{
    RequireOpen();
    if (FPlaying)
        return;
    Decode();
    const int64_t total = FSound.FrameCount();
    if (AutoRewind && FFrame >= total)
        FFrame = 0;
    if (FFrame >= total)
        return;  // at the end: nothing left to play until a rewind
    FPlaying = true;
    if (StartSink(FFrame))
        return;
    FClock.start();
    FClockStart = FFrame;
    FEndTimer.start(int((total - FFrame) * 1000 / FSound.SampleRate) + 1);
}

void TMediaPlayer::Stop()
{
    if (FPlaying)
        Finish(CurrentFrame());
}

void TMediaPlayer::Rewind()
{
    RequireOpen();
    const bool wasPlaying = FPlaying;
    Stop();
    FFrame = 0;
    if (wasPlaying)
        Play();
}

void TMediaPlayer::Close()
{
    Stop();
    FOpen = false;
    FOpenedFile.clear();
    FDecoded = false;
    FSound = TWaveSound();
    FFrame = 0;
}

bool TMediaPlayer::IsOpen() const
{
    return FOpen;
}

bool TMediaPlayer::IsPlaying() const
{
    return FPlaying;
}

int TMediaPlayer::Position() const
{
    if (!FOpen || !FDecoded)
        return 0;
    return int(CurrentFrame() * 1000 / FSound.SampleRate);
}

int TMediaPlayer::Length()
{
    if (!FOpen)
        return 0;
    Decode();
    return int(FSound.FrameCount() * 1000 / FSound.SampleRate);
}

int64_t TMediaPlayer::CurrentFrame() const
{
    if (!FPlaying)
        return FFrame;
    int64_t frame;
    if (FSink)
        frame = FFrame + FSink->PlayedMicroseconds() * FSound.SampleRate / 1000000;
    else
        frame = FClockStart + FClock.elapsed() * FSound.SampleRate / 1000;
    return std::min(frame, FSound.FrameCount());
}

void TMediaPlayer::Finish(int64_t frame)
{
    FPlaying = false;
    FEndTimer.stop();
    if (FSink)
    {
        ++FSinkGeneration;  // ignore what the old output still has queued for us
        // Safe to delete here: its news reaches us queued, never from inside
        // the output itself.
        FSink.reset();
    }
    FFrame = frame;
}

void TMediaPlayer::RequireOpen() const
{
    if (!FOpen)
        throw EMediaError("No MCI device open.");
}

bool TMediaPlayer::StartSink(int64_t frame)
{
    const auto start = DecoderEntry<TStartSoundEntry>(StartSoundEntryName);
    const unsigned generation = ++FSinkGeneration;
    const std::function<void(bool)> ended = [this, generation](bool played) { SinkEnded(generation, played); };
    FSink.reset(start(&FSound, frame, this, &ended));
    return FSink != nullptr;
}

void TMediaPlayer::SinkEnded(unsigned generation, bool played)
{
    if (generation != FSinkGeneration || !FSink || !FPlaying)
        return;
    if (played)
        Finish(FSound.FrameCount());
    else
        Finish(CurrentFrame());       // the output failed or went away
}
