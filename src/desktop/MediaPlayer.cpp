#include "desktop/MediaPlayer.h"

#include "desktop/DecoderModule.h"
#include "desktop/Riff.h"
#include "platform/CodePage.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QFile>
#include <QIODevice>
#include <QMediaDevices>


#include <algorithm>
#include <cstring>

namespace
{
constexpr qint64 LayoutHeadBytes = 64 * 1024;

// Serves the decoded samples to the audio sink from a start offset.
class TPcmSource : public QIODevice
{
public:
    TPcmSource(const QByteArray& samples, qint64 offset, QObject* parent)
        : QIODevice(parent), FSamples(samples)
    {
        open(QIODevice::ReadOnly);
        seek(offset);
    }

    qint64 size() const override { return FSamples.size(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 count = std::min(maxSize, FSamples.size() - pos());
        if (count <= 0)
            return 0;
        std::memcpy(data, FSamples.constData() + pos(), static_cast<size_t>(count));
        return count;
    }

    qint64 writeData(const char*, qint64) override { return -1; }

private:
    const QByteArray FSamples;  // implicitly shared with the player, no copy
};
}

std::string WaveLayoutError(std::string_view head, uint64_t fileSize)
{
    if (head.size() < 12 || head.substr(0, 4) != "RIFF" || head.substr(8, 4) != "WAVE")
        return "is not a wave sound file";
    uint64_t offset = 12;
    while (true)
    {
        if (offset + 8 > fileSize)
            return "holds no sound data";
        if (offset + 8 > head.size())
            return {};  // the chunks go on past what was read; the decoder checks the rest
        const std::string_view id = head.substr(offset, 4);
        const uint32_t size = RiffUInt32(head, offset + 4);
        if (id == "data")
        {
            // 0 and all ones are what streaming writers leave when the length is unknown.
            if (size != 0 && size != 0xFFFFFFFFu && offset + 8 + size > fileSize)
                return "is cut short";
            return {};
        }
        offset = NextRiffChunk(offset, size);
    }
}

TWaveSound LoadWaveFile(const std::string& fileName)
{
    const QString path = FromCodePage(fileName);
    QFile file(path);
    if (fileName.empty() || !file.open(QIODevice::ReadOnly))
        throw EMediaError("Cannot open the sound file \"" + fileName + "\".");
    if (file.size() > MaxWaveBytes)
        throw EMediaError("The sound file \"" + fileName + "\" is too large.");
    const QByteArray head = file.read(LayoutHeadBytes);
    const std::string layout =
        WaveLayoutError(std::string_view(head.constData(), size_t(head.size())), uint64_t(file.size()));
    if (!layout.empty())
        throw EMediaError("The file \"" + fileName + "\" " + layout + ".");
    file.close();

    const QByteArray encoded = QFile::encodeName(path);
    const std::string bytes(encoded.constData(), static_cast<size_t>(encoded.size()));
    const auto decode = DecoderEntry<TDecodeWaveEntry>(DecodeWaveEntryName);
    TWaveSound result;
    std::string error;
    decode(&bytes, &fileName, &result, &error);
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
    TWaveSound sound = LoadWaveFile(FileName);
    FFormat = QAudioFormat();
    FFormat.setSampleRate(sound.SampleRate);
    FFormat.setChannelCount(sound.Channels);
    FFormat.setSampleFormat(QAudioFormat::Int16);
    FSound = std::move(sound);
    FFrame = 0;
    FOpen = true;
}

void TMediaPlayer::Play()
{
    RequireOpen();
    if (FPlaying)
        return;
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
    if (!FOpen)
        return 0;
    return int(CurrentFrame() * 1000 / FSound.SampleRate);
}

int TMediaPlayer::Length() const
{
    if (!FOpen)
        return 0;
    return int(FSound.FrameCount() * 1000 / FSound.SampleRate);
}

int64_t TMediaPlayer::CurrentFrame() const
{
    if (!FPlaying)
        return FFrame;
    int64_t frame;
    if (FSink)
        frame = FFrame + FSink->processedUSecs() * FSound.SampleRate / 1000000;
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
        ++FSinkGeneration;  // ignore what the old sink still has queued for us
        // Safe to delete here: its signals reach us queued, never from
        // inside the sink itself.
        FSink->disconnect(this);
        FSink->stop();
        FSink.reset();
        FSource = nullptr;
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
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull() || !device.isFormatSupported(FFormat))
        return false;
    FSink = std::make_unique<QAudioSink>(device, FFormat);
    // Owned by the sink, so it goes with it.
    FSource = new TPcmSource(FSound.Samples, frame * FSound.Channels * 2, FSink.get());
    const unsigned generation = ++FSinkGeneration;
    // Queued, so the sink is never torn down inside its own signal.
    connect(FSink.get(), &QAudioSink::stateChanged, this,
            [this, generation] { SinkStateChanged(generation); }, Qt::QueuedConnection);
    FSink->start(FSource);
    if (FSink->error() != QAudio::NoError)
    {
        FSink->disconnect(this);
        FSink.reset();
        FSource = nullptr;
        return false;
    }
    return true;
}

void TMediaPlayer::SinkStateChanged(unsigned generation)
{
    if (generation != FSinkGeneration || !FSink || !FPlaying)
        return;
    // Idle also follows an underrun while the main thread was busy; only a
    // source that ran dry means the sound was played to the end.
    if (FSink->state() == QAudio::IdleState && FSource->atEnd())
        Finish(FSound.FrameCount());
    else if (FSink->state() == QAudio::StoppedState)
        Finish(CurrentFrame());       // the output failed or went away
}
