#include "ui/twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace tessaly {
namespace {

constexpr double kTwipsPerInch = 1440.0;

QScreen* ScreenOf(const QWidget* widget) {
    QScreen* screen = widget ? widget->screen() : nullptr;
    return screen ? screen : QGuiApplication::primaryScreen();
}

}  // namespace

Twips::Twips(const QWidget* widget) : perPixelX_(15.0), perPixelY_(15.0) {
    if (QScreen* screen = ScreenOf(widget)) {
        if (screen->logicalDotsPerInchX() > 0) {
            perPixelX_ = kTwipsPerInch / screen->logicalDotsPerInchX();
        }
        if (screen->logicalDotsPerInchY() > 0) {
            perPixelY_ = kTwipsPerInch / screen->logicalDotsPerInchY();
        }
    }
}

int Twips::XToPixels(int twips) const { return static_cast<int>(std::lround(twips / perPixelX_)); }
int Twips::YToPixels(int twips) const { return static_cast<int>(std::lround(twips / perPixelY_)); }
int Twips::XFromPixels(int pixels) const { return static_cast<int>(std::lround(pixels * perPixelX_)); }
int Twips::YFromPixels(int pixels) const { return static_cast<int>(std::lround(pixels * perPixelY_)); }

}  // namespace tessaly
