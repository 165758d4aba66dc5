#include "desktop/Artwork.h"

#include <QFile>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace
{
QImage Picture(const QIcon& icon, int size)
{
    return icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
}

int CountPixels(const QImage& image, const std::function<bool(QRgb)>& match)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += match(image.pixel(x, y)) ? 1 : 0;
    return count;
}

bool Opaque(QRgb pixel)
{
    return qAlpha(pixel) == 255;
}
}

// The pictures are compiled into a static library; they must reach the
// program without anyone initialising the resource by hand.
TEST(Artwork, CompiledInPicturesAreRegistered)
{
    EXPECT_TRUE(QFile::exists(QStringLiteral(":/artwork/tray-0.png")));
    for (int i = 0; i < 3; ++i)
    {
        for (const QIcon& icon : {TrayPicture(i), MessageListIcon(i)})
        {
            const QImage image = Picture(icon, 16);
            ASSERT_EQ(image.size(), QSize(16, 16)) << i;
            EXPECT_GT(CountPixels(image, [](QRgb p) { return qAlpha(p) >= 128; }), 30)
                << "picture " << i << " shows something";
            EXPECT_GT(CountPixels(image, [](QRgb p) { return qAlpha(p) == 0; }), 0)
                << "picture " << i << " has a transparent part";
        }
    }
    EXPECT_TRUE(TrayPicture(3).isNull());
    EXPECT_TRUE(TrayPicture(-1).isNull());
    EXPECT_TRUE(MessageListIcon(3).isNull());
}

TEST(Artwork, TrayPicturesTellTheirStatesApart)
{
    const QImage idle = Picture(TrayPicture(0), 16);
    const QImage grey = Picture(TrayPicture(1), 16);
    const QImage error = Picture(TrayPicture(2), 16);
    const auto coloured = [](QRgb p) { return qAlpha(p) > 0 && (qRed(p) != qGreen(p) || qGreen(p) != qBlue(p)); };
    EXPECT_GT(CountPixels(idle, coloured), 40);
    EXPECT_EQ(CountPixels(grey, coloured), 0) << "the greyed picture has no colour";
    const auto red = [](QRgb p) { return Opaque(p) && qRed(p) > 150 && qGreen(p) < 100 && qBlue(p) < 100; };
    EXPECT_EQ(CountPixels(idle, red), 0);
    EXPECT_GT(CountPixels(error, red), 10) << "the error picture carries a red mark";
}

TEST(Artwork, ApplicationIconAndAboutBackground)
{
    const QIcon icon = ApplicationIcon();
    EXPECT_TRUE(icon.availableSizes().contains(QSize(32, 32)));
    EXPECT_TRUE(icon.availableSizes().contains(QSize(16, 16)));
    EXPECT_EQ(Picture(icon, 32).size(), QSize(32, 32));
    const QPixmap background = AboutBackground();
    ASSERT_FALSE(background.isNull());
    EXPECT_GT(background.height(), background.width()) << "a tall picture for the side panel";
}

TEST(Artwork, DefaultFilesLieBesideTheExecutable)
{
    const std::string folder = TERNBELL_RUNTIME_DIR "/";
    for (const char* name : {"notify.wav", "newmsg.ico", "notify.avi"})
        EXPECT_TRUE(QFile::exists(QString::fromStdString(folder + name))) << name;

    // A real icon file with a small and a large picture.
    QImageReader reader(QString::fromStdString(folder + "newmsg.ico"));
    EXPECT_EQ(reader.format(), "ico");
    std::vector<QSize> sizes;
    do
    {
        const QImage image = reader.read();
        ASSERT_FALSE(image.isNull()) << reader.errorString().toStdString();
        EXPECT_TRUE(image.hasAlphaChannel());
        sizes.push_back(image.size());
    } while (reader.jumpToNextImage());
    EXPECT_NE(std::find(sizes.begin(), sizes.end(), QSize(16, 16)), sizes.end());
    EXPECT_NE(std::find(sizes.begin(), sizes.end(), QSize(32, 32)), sizes.end());
}
