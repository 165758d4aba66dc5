// The audio output of the decoder module: a sound plays on Qt Multimedia's
// default output, which is mapped (with the sound server's client library)
// only once a sound is first played.
#include "decoders/DecoderEntries.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>
#include <QPointer>

#include <algorithm>
#include <cstring>
#include <memory>

namespace
{

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

class TSinkOutput final : public QObject, public TSoundOutput
{
public:
    TSinkOutput(const QAudioDevice& device, const QAudioFormat& format, const TWaveSound& sound, int64_t frame)
        : FSink(device, format),
          // Owned by the sink, so it goes with it.
          FSource(new TPcmSource(sound.Samples, frame * sound.Channels * 2, &FSink))
    {
    }

    ~TSinkOutput() override
    {
        FSink.disconnect();
        FSink.stop();
    }

    bool Start(QObject* context, const std::function<void(bool)>& ended)
    {
        // Queued, so the output is never deleted inside its own signal; the
        // guard drops what is still queued once it is gone.
        QPointer<TSinkOutput> self(this);
        QObject::connect(&FSink, &QAudioSink::stateChanged, context, [self, ended] {
            if (!self)
                return;
            // Idle also follows an underrun while the main thread was busy;
            // only a source that ran dry means the sound was played to the end.
            const QAudio::State state = self->FSink.state();
            if (state == QAudio::IdleState && self->FSource->atEnd())
                ended(true);
            else if (state == QAudio::StoppedState)
                ended(false);
        }, Qt::QueuedConnection);
        FSink.start(FSource);
        return FSink.error() == QAudio::NoError;
    }

    int64_t PlayedMicroseconds() const override { return FSink.processedUSecs(); }

private:
    QAudioSink FSink;
    TPcmSource* FSource;
};

} // namespace

extern "C" TSoundOutput* ternbell_start_sound(const TWaveSound* sound, int64_t frame, QObject* context,
                                              const std::function<void(bool)>* ended)
{
    QAudioFormat format;
    format.setSampleRate(sound->SampleRate);
    format.setChannelCount(sound->Channels);
    format.setSampleFormat(QAudioFormat::Int16);
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull() || !device.isFormatSupported(format))
        return nullptr;
    auto output = std::make_unique<TSinkOutput>(device, format, *sound, frame);
    if (!output->Start(context, *ended))
        return nullptr;
    return output.release();
}
