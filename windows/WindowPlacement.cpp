#include "windows/WindowPlacement.h"

#include "app/Conversions.h"
#include "app/Settings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace {

constexpr double TwipsPerInch = 1440.0;

double dotsPerInch(const QScreen* screen)
{
    const double dpi = screen ? screen->logicalDotsPerInchX() : 96.0;
    return dpi > 0 ? dpi : 96.0;
}

const QScreen* screenOf(const QWidget* widget)
{
    return widget ? widget->screen() : QGuiApplication::primaryScreen();
}

} // namespace

void InstallScreenSizeSource()
{
    SetScreenSizeSource([] {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (!screen)
            return QSizeF(1024 * 15.0, 768 * 15.0);
        const double scale = TwipsPerInch / dotsPerInch(screen);
        return QSizeF(screen->geometry().width() * scale, screen->geometry().height() * scale);
    });
}

std::int32_t PixelsToTwips(const QWidget* widget, int pixels)
{
    return RoundToInt32(pixels * TwipsPerInch / dotsPerInch(screenOf(widget))).value_or(0);
}

int TwipsToPixels(const QWidget* widget, std::int32_t twips)
{
    return RoundToInt32(twips * dotsPerInch(screenOf(widget)) / TwipsPerInch).value_or(0);
}

void RestoreWindowPosition(QWidget* window, const QString& prefix)
{
    const WindowPosition position = LoadWindowPosition(
        prefix, PixelsToTwips(window, window->width()), PixelsToTwips(window, window->height()));
    window->move(TwipsToPixels(window, position.left), TwipsToPixels(window, position.top));
}

void StoreWindowPosition(const QWidget* window, const QString& prefix)
{
    // A Wayland client cannot place its windows and reads (0,0) back: the position the user
    // left in another session stays.
    if (QGuiApplication::platformName() == QLatin1String("wayland"))
        return;
    SaveWindowPosition(prefix, PixelsToTwips(window, window->x()),
                       PixelsToTwips(window, window->y()));
}
