#include "ToolbarImages.h"

#include <QColor>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// WCAG relative luminance of an sRGB colour.
double Luminance(QColor Colour) {
    const auto Linear = [](double C) {
        return C <= 0.04045 ? C / 12.92 : std::pow((C + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * Linear(Colour.redF()) + 0.7152 * Linear(Colour.greenF()) +
           0.0722 * Linear(Colour.blueF());
}

double Contrast(QColor A, QColor B) {
    double La = Luminance(A), Lb = Luminance(B);
    if (La < Lb)
        std::swap(La, Lb);
    return (La + 0.05) / (Lb + 0.05);
}

QImage OnBackground(const QIcon& Icon, int Size, QColor Background) {
    QImage Image(Size, Size, QImage::Format_RGB32);
    Image.fill(Background);
    QPainter Painter(&Image);
    Icon.paint(&Painter, QRect(0, 0, Size, Size));
    return Image;
}

// Pixels that stand out from the background as much as non-text interface
// graphics should (3:1).
int VisiblePixels(const QImage& Image, QColor Background) {
    int Count = 0;
    for (int Y = 0; Y < Image.height(); ++Y)
        for (int X = 0; X < Image.width(); ++X)
            if (Contrast(Image.pixelColor(X, Y), Background) >= 3.0)
                ++Count;
    return Count;
}

// Light and dark window colours of common desktop themes.
const QColor Light(0xef, 0xef, 0xef);
const QColor Dark(0x2b, 0x2b, 0x2b);

TEST(ToolbarImages, EveryPictureIsItsOwnAndStandsOutOnLightAndDarkToolbars) {
    std::vector<QImage> Seen;
    for (int Index = 0; Index <= ToolbarImageCount; ++Index) {
        const bool App = Index == ToolbarImageCount;
        const QIcon Icon = App ? ApplicationIcon() : ToolbarImage(Index);
        SCOPED_TRACE(App ? "application icon" : "picture " + std::to_string(Index));
        ASSERT_FALSE(Icon.isNull());
        for (const QColor& Background : {Light, Dark}) {
            const QImage Image = OnBackground(Icon, ToolbarImageSize, Background);
            // A shape of a few dozen pixels at least, not a stray line.
            EXPECT_GE(VisiblePixels(Image, Background), 40) << Background.name().toStdString();
            if (Background == Light) {
                for (const QImage& Other : Seen)
                    EXPECT_NE(Image, Other) << "two indexes show the same picture";
                Seen.push_back(Image);
            }
        }
    }
    EXPECT_TRUE(ToolbarImage(ToolbarImageCount).isNull());
}

} // namespace
