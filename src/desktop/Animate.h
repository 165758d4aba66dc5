#pragma once

#include "decoders/DecoderEntries.h"
#include "desktop/MediaLayout.h"

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <string>
#include <vector>

// Reads the headers of an AVI file (path in the desktop code page); throws
// Exception like LoadAnimation when the layout is not that of a playable AVI.
TAnimationHeader ReadAnimationHeader(const std::string& fileName);

// Decodes an AVI file (path in the desktop code page) of any video codec
// FFmpeg knows; throws Exception when it cannot be read or holds no frame.
TAnimationClip LoadAnimation(const std::string& fileName);

// Plays an AVI animation in a widget. Frames are numbered from 1. While
// active it shows StartFrame to StopFrame (0 = the last frame) in turn and
// starts over, Repetitions times (0 = forever); then it stops on StopFrame.
// The frames are decoded when the widget is first shown or painted, and they
// advance only while it is visible: an animation in a window that stays
// hidden neither loads the decoders nor wakes the program up.
class TAnimate : public QWidget
{
    Q_OBJECT

public:
    explicit TAnimate(QWidget* parent = nullptr);

    // Takes the file and shows its first frame, inactive; an empty name
    // unloads. A file that is not a playable AVI throws and changes nothing.
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
    // Whether the frames have been decoded (or tried and found undecodable).
    bool Decoded() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void Decode();
    void Tick();
    int FirstFrame() const;
    int LastFrame() const;

    std::string FFileName;
    TAnimationHeader FHeader;
    bool FDecoded = true; // nothing loaded, nothing to decode
    TAnimationClip FClip;
    bool FActive = false;
    QTimer FTimer;
    int FCurrent = 0;
    int FRunsDone = 0;
};
