#include "app/CommandLine.h"

#include "tools/LoadOptionArguments.h"

#include <QCommandLineParser>

void CommandLine::describe(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Shows two-dimensional flow data sets through layers of colour coding,\n"
        "arrows and evenly-spaced streamlines. FILE (either file of a .gri/.dat\n"
        "pair, or a NetCDF, VTK, Tecplot, MAT or column text file) opens as File > Load\n"
        "Flow Data would open it, asking for the velocity pair when the file leaves\n"
        "it open; a file that does not load says why in the status bar. A session\n"
        "file (.velmora, saved by File > Save Session) opens that session. Without\n"
        "FILE the window starts empty: File > Load Flow Data opens in ./dat, and a\n"
        "file dropped on the window opens too. Qt's own options (-platform,\n"
        "-style, ...) apply."));
    parser.addHelpOption();
    // The tools' options, so a file opens here as it does in velmora-render;
    // they bring --version (alone, as -v is the y velocity).
    LoadOptionArguments::add(parser, true);
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("the data set or session to open (optional)."),
                                 QStringLiteral("[FILE]"));
}

std::optional<CommandLine> CommandLine::read(const QCommandLineParser& parser, QString* problem)
{
    CommandLine line;
    if (!LoadOptionArguments::read(parser, &line.options, problem))
        return std::nullopt;
    QStringList files = parser.positionalArguments();
    if (!files.isEmpty())
        line.fileName = files.takeFirst();
    line.ignoredFiles = files;
    return line;
}
