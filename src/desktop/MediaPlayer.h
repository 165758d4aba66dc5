#pragma once

#include "decoders/DecoderEntries.h"
#include "desktop/MediaLayout.h"
#include "platform/Exception.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class EMediaError : public Exception
{
public:
    using Exception::Exception;
};


// Checks that a wave file (path in the desktop code page) is there, not too
// large and laid out as a whole wave; throws EMediaError when not.
void CheckWaveFile(const std::string& fileName);

// Reads and decodes a wave file; throws EMediaError when it is missing, not
// a wave, cut short or undecodable.
TWaveSound LoadWaveFile(const std::string& fileName);

// The hidden player of the notification sound. Open checks the file's layout,
// so a file that is no wave fails at once; the samples are decoded when they
// are first needed (a play, the length), so a player that never plays never
// loads the decoders. Play returns at once and the sound goes on in the
// background. The position (milliseconds) is kept between plays: without
// AutoRewind a play starts where the last one stopped, and a player at the
// end plays nothing until it is rewound or opened again. Without an audio
// output the player keeps time as if it played, silently.
class TMediaPlayer : public QObject
{
    Q_OBJECT

public:
    explicit TMediaPlayer(QObject* parent = nullptr);
    ~TMediaPlayer() override;

    std::string FileName;
    bool AutoRewind = false;

    void Open();
    void Play();
    void Stop();
    void Rewind();
    void Close();

    bool IsOpen() const;
    bool IsPlaying() const;
    int Position() const;
    // Decodes the file when that has not happened yet; throws EMediaError
    // when its samples cannot be decoded.
    int Length();

private:
    void Decode();
    int64_t CurrentFrame() const;
    void Finish(int64_t frame);
    void RequireOpen() const;
    bool StartSink(int64_t frame);
    void SinkEnded(unsigned generation, bool played);

    bool FOpen = false;
    bool FPlaying = false;
    // The file of the last Open, which the player plays whatever FileName says since.
    std::string FOpenedFile;
    bool FDecoded = false;
    TWaveSound FSound;
    int64_t FFrame = 0;

    // Audible playback, from the decoder module.
    std::unique_ptr<TSoundOutput> FSink;
    unsigned FSinkGeneration = 0;

    // Silent playback: the position follows the clock.
    QElapsedTimer FClock;
    int64_t FClockStart = 0;
    QTimer FEndTimer;
};
