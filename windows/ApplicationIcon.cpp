#include "windows/ApplicationIcon.h"

#include <QApplication>
#include <QIconEngine>
#include <QList>
#include <QPainter>

namespace {

constexpr int IconSizes[] = {16, 32, 48, 64, 128, 256};

// QIcon::addFile decodes each file at once; the six sizes cost start-up milliseconds before
// the first frame, so they are decoded when the icon is first drawn.
class DeferredIconEngine : public QIconEngine
{
public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        decoded().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return decoded().actualSize(size, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return decoded().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                         qreal scale) override
    {
        return decoded().pixmap(size, scale, mode, state);
    }
    // Known without decoding: every size is given for the normal, off state only.
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        QList<QSize> sizes;
        if (mode == QIcon::Normal && state == QIcon::Off) {
            for (int size : IconSizes)
                sizes.append(QSize(size, size));
        }
        return sizes;
    }
    bool isNull() override { return false; }
    QIconEngine* clone() const override { return new DeferredIconEngine(*this); }

private:
    QIcon& decoded()
    {
        if (icon.isNull()) {
            for (int size : IconSizes)
                icon.addFile(QStringLiteral(":/icons/quorvane-%1.png").arg(size),
                             QSize(size, size));
        }
        return icon;
    }

    QIcon icon;
};

} // namespace

QIcon ApplicationIcon()
{
    return QIcon(new DeferredIconEngine);
}

void InstallApplicationIcon()
{
    QApplication::setWindowIcon(ApplicationIcon());
}
