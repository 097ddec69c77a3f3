// quorvane-reply: hands one reply request to the running Quorvane through its reply
// channel, as the message receiver does. For scripts and tests.
//
//   quorvane-reply NAME IP PORT    sends NAME, NUL, IP, NUL, PORT, NUL
//   quorvane-reply --raw FILE      sends the file's bytes as the block, unchanged
// Exits 0 once handled, 1 when no copy runs or nothing can be sent, 2 on wrong arguments.

#include "app/BuildInfo.h"
#include "messaging/ReceiveString.h"
#include "platform/ReplyChannel.h"
#include "platform/RuntimePaths.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <cstdio>

namespace {

constexpr int BadUsage = 2;

int usage(const QString& problem)
{
    std::fprintf(stderr,
                 "quorvane-reply: %s\n"
                 "usage: quorvane-reply NAME IP PORT\n"
                 "       quorvane-reply --raw FILE\n"
                 "See quorvane-reply --help.\n",
                 qPrintable(problem));
    return BadUsage;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QString::fromLatin1(BuildInfo::Version));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Hands one reply request to the running Quorvane through its reply channel, as the\n"
        "message receiver's Reply does: Quorvane selects NAME at IP and PORT (adding it to\n"
        "its list when needed) and comes to the front, ready for the answer. Waits until\n"
        "Quorvane has handled the request, including any \"Reply\" box.\n"
        "A name that starts with a dash goes after --.\n"
        "\n"
        "Exit status:\n"
        "  0  the running Quorvane handled the request\n"
        "  1  no copy of Quorvane is running, the runtime folder was refused, or FILE\n"
        "     could not be read\n"
        "  2  wrong arguments"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption raw(
        QStringLiteral("raw"), QStringLiteral("Send the bytes of FILE as the request, unchanged."),
        QStringLiteral("FILE"));
    parser.addOption(raw);
    const QCommandLineOption token(
        QStringLiteral("activation-token"),
        QStringLiteral("Hand TOKEN over with the request, so that Quorvane's window may come\n"
                       "forward on a Wayland desktop. Default: XDG_ACTIVATION_TOKEN from the\n"
                       "environment, as a launcher sets it."),
        QStringLiteral("TOKEN"));
    parser.addOption(token);
    parser.addPositionalArgument(QStringLiteral("NAME"),
                                 QStringLiteral("The correspondent's name."));
    parser.addPositionalArgument(QStringLiteral("IP"),
                                 QStringLiteral("Its IPv4 address, such as 10.0.0.2."));
    parser.addPositionalArgument(QStringLiteral("PORT"),
                                 QStringLiteral("Its reply port, such as 5050."));

    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(help))
        parser.showHelp(0);
    if (parser.isSet(version))
        parser.showVersion();
    const QStringList args = parser.positionalArguments();

    QByteArray block;
    if (parser.isSet(raw)) {
        if (!args.isEmpty())
            return usage(QStringLiteral("--raw takes a file and nothing else"));
        QFile file(parser.value(raw));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "quorvane-reply: cannot read %s: %s\n",
                         qPrintable(parser.value(raw)), qPrintable(file.errorString()));
            return 1;
        }
        block = file.readAll();
    } else if (args.size() == 3) {
        block = ReplyRequestBlock(args[0], args[1], args[2]);
    } else {
        return usage(QStringLiteral("expected NAME IP PORT, got %1 argument(s)").arg(args.size()));
    }

    QString error;
    // Never hand a request to a socket in a folder someone else could have put there.
    const QString path = ReplyChannelPath(&error);
    if (path.isEmpty()) {
        std::fprintf(stderr, "quorvane-reply: %s\n", qPrintable(error));
        return 1;
    }
    // The running copy answers once the user has dealt with any "Reply" box: wait for it.
    const QString activationToken =
        parser.isSet(token) ? parser.value(token) : qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
    if (!SendChannelMessage(path, ChannelMessage::CopyData, 0, block, -1, &error,
                            activationToken)) {
        std::fprintf(stderr, "quorvane-reply: no running Quorvane answered on %s (%s)\n",
                     qPrintable(path), qPrintable(error));
        return 1;
    }
    return 0;
}
