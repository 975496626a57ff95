#include "app/Twips.h"

#include <cmath>

int TwipsToPixels(double twips)
{
    return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

QRect TwipsRect(int left, int top, int width, int height)
{
    return QRect(TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width),
                 TwipsToPixels(height));
}

QSize TwipsSize(int width, int height)
{
    return QSize(TwipsToPixels(width), TwipsToPixels(height));
}

QSizeF PixelsToTwips(const QSize& pixels)
{
    return QSizeF(double(pixels.width()) * kTwipsPerPixel,
                  double(pixels.height()) * kTwipsPerPixel);
}

QPointF CenteredPosition(QSizeF screenTwips, QSizeF windowTwips)
{
    // Single-precision on purpose: the window position is kept as a float
    // number of twips, fractions included.
    const float top = (float(screenTwips.height()) - float(windowTwips.height())) / 2.0f;
    const float left = (float(screenTwips.width()) - float(windowTwips.width())) / 2.0f;
    return QPointF(double(left), double(top));
}

QPoint TwipsToPixels(QPointF twips)
{
    return QPoint(TwipsToPixels(twips.x()), TwipsToPixels(twips.y()));
}
