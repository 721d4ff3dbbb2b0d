#pragma once

// Positions and sizes of the window's controls are given in twips (1/1440 inch); at 96 dots per
// inch 15 twips make one pixel.

#include <QRect>

namespace meterlog {

constexpr int twipsToPixels(int twips)
{
    constexpr int twipsPerPixel = 15;
    return (twips + twipsPerPixel / 2) / twipsPerPixel;
}

constexpr QRect twipsRect(int left, int top, int width, int height)
{
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

} // namespace meterlog
