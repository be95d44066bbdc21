#pragma once
// Reading what a widget drew, for the viewer tests.
#include <QImage>

// The pixels of img dark enough to be text (black on a light face).
inline int DarkPixels(const QImage& img)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += qGray(img.pixel(x, y)) < 60;
    return n;
}
