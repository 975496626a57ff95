#pragma once
// Window geometry is designed in twips (1/1440 inch). The window is laid out
// at 15 twips per pixel (96 dots per inch), and these helpers do the
// conversion and the centring arithmetic in one place.

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <QSizeF>

constexpr int kTwipsPerPixel = 15;

// Twips to whole pixels, rounded to the nearest pixel (also for negatives).
int TwipsToPixels(double twips);
QRect TwipsRect(int left, int top, int width, int height);
QSize TwipsSize(int width, int height);
// Pixels to twips (exact).
QSizeF PixelsToTwips(const QSize& pixels);

// Top-left corner that centres a window of the given outer size on a screen,
// in twips. Computed in single precision without truncating to whole twips;
// a window larger than the screen gets a negative position.
QPointF CenteredPosition(QSizeF screenTwips, QSizeF windowTwips);
// The same position in pixels.
QPoint TwipsToPixels(QPointF twips);
