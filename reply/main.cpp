// quorvane-reply: hands one reply request to the running Quorvane through its reply
// channel, as the message receiver does. For scripts and tests.
//
//   quorvane-reply NAME IP PORT    sends NAME, NUL, IP, NUL, PORT, NUL
//   quorvane-reply --raw FILE      sends the file's bytes as the block, unchanged

#include "messaging/ReceiveString.h"
#include "platform/ReplyChannel.h"
#include "platform/RuntimePaths.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: quorvane-reply NAME IP PORT\n"
                         "       quorvane-reply --raw FILE\n");
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);

    QByteArray block;
    if (args.size() == 2 && args[0] == QLatin1String("--raw")) {
        QFile file(args[1]);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "quorvane-reply: cannot read %s: %s\n", qPrintable(args[1]),
                         qPrintable(file.errorString()));
            return 1;
        }
        block = file.readAll();
    } else if (args.size() == 3) {
        block = ReplyRequestBlock(args[0], args[1], args[2]);
    } else {
        return usage();
    }

    QString error;
    // Never hand a request to a socket in a folder someone else could have put there.
    const QString path = ReplyChannelPath(&error);
    if (path.isEmpty()) {
        std::fprintf(stderr, "quorvane-reply: %s\n", qPrintable(error));
        return 1;
    }
    // The running copy answers once the user has dealt with any "Reply" box: wait for it.
    if (!SendChannelMessage(path, ChannelMessage::CopyData, 0, block, -1, &error)) {
        std::fprintf(stderr, "quorvane-reply: no running Quorvane answered on %s (%s)\n",
                     qPrintable(path), qPrintable(error));
        return 1;
    }
    return 0;
}
