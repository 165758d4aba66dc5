#pragma once

#include "decoders/DecoderEntries.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <string>
#include <vector>


// Decodes an AVI file (path in the desktop code page) of any video codec
// FFmpeg knows; throws Exception when it cannot be read or holds no frame.
TAnimationClip LoadAnimation(const std::string& fileName);

// Plays an AVI animation in a widget. Frames are numbered from 1. While
// active it shows StartFrame to StopFrame (0 = the last frame) in turn and
// starts over, Repetitions times (0 = forever); then it stops on StopFrame.
class TAnimate : public QWidget
{
    Q_OBJECT

public:
    explicit TAnimate(QWidget* parent = nullptr);

    // Loads the file and shows its first frame, inactive; an empty name
    // unloads. A file that cannot be decoded throws and changes nothing.
    void SetFileName(const std::string& file);
    std::string FileName() const;

    void SetActive(bool on);
    bool Active() const;

    int StartFrame = 1;
    int StopFrame = 0;
    int Repetitions = 0;
    bool Center = true;

    int FrameCount() const;
    int CurrentFrame() const;  // 0 when nothing is loaded
    int FrameInterval() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Tick();
    int FirstFrame() const;
    int LastFrame() const;

    std::string FFileName;
    TAnimationClip FClip;
    QTimer FTimer;
    int FCurrent = 0;
    int FRunsDone = 0;
};
