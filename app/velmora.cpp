#include "app/CommandLine.h"
#include "app/HeapSettings.h"
#include "app/Main.h"
#include "app/Version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

// --help and --version are answered without a window system, so they work in
// a terminal without a display and when manual pages are generated. (-v is
// not among them: it names the y velocity.)
bool asksForHelpOrVersion(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"-h", "--help", "--help-all", "--version"}) {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}

void writeError(const QString& text)
{
    std::fputs(("velmora: " + text + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
}

} // namespace

int main(int argc, char* argv[])
{
    HeapSettings::keepPictureMemory();
    QCoreApplication::setApplicationName(QStringLiteral("velmora"));
    QCoreApplication::setApplicationVersion(QLatin1String(velmoraVersion));
    if (asksForHelpOrVersion(argc, argv)) {
        QCoreApplication application(argc, argv);
        QCommandLineParser parser;
        CommandLine::describe(parser);
        parser.process(application);
        if (parser.isSet(QStringLiteral("version")))
            parser.showVersion();
        return 0;
    }

    // QApplication takes its own options out of argv first.
    QApplication application(argc, argv);
    QCommandLineParser parser;
    CommandLine::describe(parser);
    parser.process(application);
    QString problem;
    const std::optional<CommandLine> commandLine = CommandLine::read(parser, &problem);
    if (!commandLine) {
        // As QCommandLineParser::process ends on any other wrong command line.
        writeError(problem);
        return 1;
    }
    if (!commandLine->ignoredFiles.isEmpty())
        writeError(QStringLiteral("one data set at a time; not opened: ") +
                   commandLine->ignoredFiles.join(QStringLiteral(", ")));
    Main window;
    window.show();
    // Once the window is up, so a variable dialog has its parent on screen
    // and a failure its status bar.
    if (!commandLine->fileName.isEmpty())
        QTimer::singleShot(0, &window, [&window, &commandLine] {
            window.openFile(commandLine->fileName, commandLine->options);
        });
    return application.exec();
}
