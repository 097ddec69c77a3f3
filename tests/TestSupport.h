#pragma once
// Shared helpers of the test executables: private config and runtime folders, reading or
// hand-editing the store file as a user would, and, for the executables that link Widgets,
// acting on modal dialogs, answering message boxes and the checks every window must pass.

#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <future>

#if QT_VERSION < QT_VERSION_CHECK(6, 7, 0)
// This Qt looks at a QTRY_ condition again only every 50 ms, so that each wait lasts at least
// that long; look every 5 ms, so that a wait ends soon after its condition holds.
#undef QTRY_IMPL
// clang-format off
#define QTRY_IMPL(expr, timeout) \
    const int qt_test_step = 5; \
    const int qt_test_timeoutValue = timeout; \
    { QTRY_LOOP_IMPL(expr, qt_test_timeoutValue, qt_test_step) } \
    QTRY_TIMEOUT_DEBUG_IMPL(expr, qt_test_timeoutValue, qt_test_step)
// clang-format on
#endif

// Whether a client on another thread has its answer.
template <typename T> bool Ready(const std::future<T>& future)
{
    return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

#ifdef Q_OS_LINUX
// Until the guard ends, this thread, and the threads it starts meanwhile, lack the
// capability (such as CAP_DAC_OVERRIDE or CAP_NET_BIND_SERVICE) as an ordinary user does.
QScopeGuard<std::function<void()>> WithoutCapability(int capability);
#endif

#ifdef Q_OS_LINUX
// An avahi-daemon on the loopback interface and a private system bus (DBUS_SYSTEM_BUS_ADDRESS
// from then on), with avahi-browse listening; `problem` says why not (root and Avahi needed).
class PrivateAvahi
{
public:
    PrivateAvahi();
    ~PrivateAvahi();
    bool startDaemon(); // again after stopDaemon
    void stopDaemon() { daemon.terminate(), daemon.waitForFinished(); }
    // avahi-browse again: while it runs it resolves a service only once.
    bool listenAgain();
    // What avahi-browse printed since it started, less what the test took out.
    const QString& browsed();

    QString problem, host, heard;

private:
    QTemporaryDir dir;
    QProcess bus, daemon, browser;
};
#endif

// Fresh temporary config, data and runtime folders (the runtime one private to the user).
class PrivateFolders
{
public:
    PrivateFolders();
    QString config() const { return configDir.path(); }
    QString runtime() const { return runtimeDir.path(); }
    QString data() const { return dataDir.path(); }
    // This process's environment with XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR
    // pointing here, for a copy of the program started as its own process.
    QProcessEnvironment environment() const;

protected:
    void keepRuntimeUntilExit();

private:
    QTemporaryDir configDir;
    QTemporaryDir dataDir;
    QTemporaryDir runtimeDir;
};

// Points this process's XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR at fresh
// temporary folders.
// Make it before anything reads the store or the runtime folder: Qt keeps the paths it
// saw first.
class TestFolders : public PrivateFolders
{
public:
    TestFolders();
};

QString StoreFilePath();
QByteArray ReadStoreBytes();
// Replaces the store file with `text`, making sure the change is seen by the next read.
void WriteStoreFile(const QByteArray& text);
void RemoveStoreFile();

// section -> key -> raw value, read straight from the file.
using IniSections = QMap<QString, QMap<QString, QString>>;
IniSections ReadStoreSections();
// A section of the store file as "key=value" lines, in key order.
QStringList StoreSection(const QString& name);

#ifdef QT_WIDGETS_LIB
#include "app/Settings.h"
#include "app/Validation.h"
#include "windows/MessageBox.h"
#include "windows/WindowPlacement.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <cmath>
#include <functional>

// Runs `action` on the next visible modal dialog of type T.
template <typename T> void WhenModal(std::function<void(T*)> action)
{
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        action(dialog);
    });
    poll->start(5);
}

// A user editor's list without rows.
class NoRows : public UserRows
{
public:
    int rowCount() const override { return 0; }
    QString rowName(int) const override { return {}; }
    QString rowIp(int) const override { return {}; }
};

struct Box
{
    QString title;
    QString text;
};

// Answers every message box at once and keeps what it said, while it lives. A question takes
// the answers queued with SetNextAnswer, else No.
class BoxRecorder
{
public:
    BoxRecorder()
    {
        SetMessageBoxAnswerer([this](const QString& title, const QString& text) {
            boxes.append({title, text});
        });
    }
    ~BoxRecorder() { SetMessageBoxAnswerer({}); }
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    // Each box as "title: text".
    QStringList said() const
    {
        QStringList lines;
        for (const Box& box : boxes)
            lines << box.title + QStringLiteral(": ") + box.text;
        return lines;
    }

    QList<Box> boxes;
};

// Where a window of this size opens on an empty store, in pixels as it is placed.
inline QPoint CentredPosition(const QWidget* window)
{
    const QSizeF screen = ScreenSizeTwips();
    const auto centred = [window](double screenSize, int pixels) {
        const double size = PixelsToTwips(window, pixels);
        return TwipsToPixels(window, int(std::nearbyint(screenSize / 2 - size / 2)));
    };
    return {centred(screen.width(), window->width()), centred(screen.height(), window->height())};
}

inline void ShowAndActivate(QWidget* window)
{
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
}

// Replaces a box's text as a user would: select all, delete, type.
inline void Retype(QLineEdit* box, const QString& text)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClicks(box, text);
}

// The focus, starting from the first, visits these widgets in turn with Tab and comes back.
inline void CheckTabOrder(QWidget* window, const QList<QWidget*>& order)
{
    QCOMPARE(window->focusWidget(), order.first());
    for (int i = 1; i <= order.size(); ++i) {
        QTest::keyClick(window->focusWidget(), Qt::Key_Tab);
        QCOMPARE(window->focusWidget(), order.at(i % order.size()));
    }
}

// Every caption shown fits its control at the window's current font.
inline void CheckNothingClipped(QWidget* window)
{
    const auto shown = [window](const QWidget* widget) { return widget->isVisibleTo(window); };
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (!shown(label))
            continue;
        // A wrapping label may fold its text; it then needs the height of the folded text.
        const int height =
            label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
        if (!label->wordWrap())
            QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
        QVERIFY2(label->height() >= height, qPrintable(label->text()));
    }
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (!shown(button))
            continue;
        QVERIFY2(button->width() >= button->sizeHint().width(), qPrintable(button->text()));
        QVERIFY2(button->height() >= button->sizeHint().height(), qPrintable(button->text()));
    }
    for (QGroupBox* frame : window->findChildren<QGroupBox*>())
        QVERIFY2(frame->width() >= frame->minimumSizeHint().width(), qPrintable(frame->title()));
    for (QLineEdit* box : window->findChildren<QLineEdit*>())
        QVERIFY(box->height() >= box->minimumSizeHint().height());
}

// Runs `check` with the application's font at the usual size and at two large ones.
inline void AtEveryFontSize(const std::function<void()>& check)
{
    const QFont usual = QApplication::font();
    for (int pointSize : {0, 20, 32}) {
        QFont font = usual;
        if (pointSize > 0)
            font.setPointSize(pointSize);
        QApplication::setFont(font);
        check();
    }
    QApplication::setFont(usual);
}
#endif
