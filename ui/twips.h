// Geometry in twips (1/1440 inch), as the window's layout is given.
#pragma once

#include <QRect>

class QWidget;

namespace tessaly {

class Twips {
public:
    // Twips per pixel from the widget's screen (15 at 96 dots per inch).
    explicit Twips(const QWidget* widget);
    Twips(double perPixelX, double perPixelY) : perPixelX_(perPixelX), perPixelY_(perPixelY) {}

    int XToPixels(int twips) const;
    int YToPixels(int twips) const;
    int XFromPixels(int pixels) const;
    int YFromPixels(int pixels) const;
    double PerPixelX() const { return perPixelX_; }
    double PerPixelY() const { return perPixelY_; }

private:
    double perPixelX_;
    double perPixelY_;
};

}  // namespace tessaly
