#pragma once
// Window positions in twips (1/1440 inch), the unit the store keeps them in.

#include <QString>
#include <cstdint>

class QWidget;

// Makes the settings code measure the real primary screen.
void InstallScreenSizeSource();

std::int32_t PixelsToTwips(const QWidget* widget, int pixels);
int TwipsToPixels(const QWidget* widget, std::int32_t twips);

// Moves the window to its stored position (or centres it) for the given key prefix.
void RestoreWindowPosition(QWidget* window, const QString& prefix);
// Stores where the window is now.
void StoreWindowPosition(const QWidget* window, const QString& prefix);
