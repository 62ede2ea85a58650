#include "app/Main.h"
#include "app/Version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {

void describe(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Shows two-dimensional flow data sets through layers of colour coding,\n"
        "arrows and evenly-spaced streamlines. Takes no file: File > Load Flow Data\n"
        "opens in ./dat. Qt's own options (-platform, -style, ...) apply."));
    parser.addHelpOption();
    parser.addVersionOption();
}

// --help and --version are answered without a window system, so they work in
// a terminal without a display and when manual pages are generated.
bool asksForHelpOrVersion(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"-h", "--help", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("velmora"));
    QCoreApplication::setApplicationVersion(QLatin1String(velmoraVersion));
    if (asksForHelpOrVersion(argc, argv)) {
        QCoreApplication application(argc, argv);
        QCommandLineParser parser;
        describe(parser);
        parser.process(application);
        return 0;
    }

    // QApplication takes its own options out of argv first.
    QApplication application(argc, argv);
    QCommandLineParser parser;
    describe(parser);
    parser.process(application);
    if (!parser.positionalArguments().isEmpty())
        std::fputs("velmora: files on the command line are not opened; use File > Load Flow "
                   "Data\n",
                   stderr);
    Main window;
    window.show();
    return application.exec();
}
