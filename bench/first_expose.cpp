// Preloaded (LD_PRELOAD) into each program bench_startup starts: stamps the first Expose
// the program receives, inside the process, so that the launcher's own waiting is no part
// of the time. The launcher passes its CLOCK_MONOTONIC stamp taken just before starting the
// program (BENCH_START_NS) and a file for the answer (BENCH_EXPOSE_FILE); the library
// writes the nanoseconds from that stamp to the first Expose and ends the process at once,
// so that nothing after the first frame is waited for.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

long long nowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

class FirstExposeFilter : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && watched->isWindowType()) {
            const long long elapsed = nowNs() - std::atoll(std::getenv("BENCH_START_NS"));
            // Plain calls only: the process ends right after, with no exit handlers run.
            const int fd =
                ::open(std::getenv("BENCH_EXPOSE_FILE"), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd >= 0) {
                char text[32];
                const int length = std::snprintf(text, sizeof text, "%lld\n", elapsed);
                const bool written = ::write(fd, text, static_cast<size_t>(length)) == length;
                ::close(fd);
                ::_exit(written ? 0 : 3);
            }
            ::_exit(3);
        }
        return false;
    }
};

// Runs inside the construction of the application object, before main() goes on.
void installFilter()
{
    QCoreApplication::instance()->installEventFilter(
        new FirstExposeFilter(QCoreApplication::instance()));
}

// Static construction runs before main(); the application object made later calls it.
struct Registration
{
    Registration()
    {
        if (std::getenv("BENCH_START_NS") && std::getenv("BENCH_EXPOSE_FILE"))
            qAddPreRoutine(installFilter);
    }
} registration;

} // namespace
