#pragma once
// The command line of the windowed programs: --help and --version, and nothing else of
// their own.

#include "app/BuildInfo.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// True when the command line asks for a text only (help or version): it is then answered
// before any window system is reached, so that it works without a display.
inline bool AsksForTextOnly(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        for (const char* option : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
            if (std::strcmp(argv[i], option) == 0)
                return true;
    }
    return false;
}

// Answers --help and --version and ends the program; refuses options it does not know and
// any argument (status 1). Returns when the program should go on.
inline void ProcessCommandLine(const QCoreApplication& app, const QString& description)
{
    QCoreApplication::setApplicationVersion(QString::fromLatin1(BuildInfo::Version));
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "%s: unexpected argument %s\n",
                     qPrintable(QCoreApplication::applicationName()),
                     qPrintable(parser.positionalArguments().first()));
        std::exit(1);
    }
}
