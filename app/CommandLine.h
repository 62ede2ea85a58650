#pragma once

#include "formats/LoadOptions.h"

#include <QString>
#include <QStringList>

#include <optional>

class QCommandLineParser;

// The program's command line: velmora [FILE] with the load options the tools
// take (--u, --v, --level, --step), --help and --version.
struct CommandLine
{
    // Empty: start without a data set.
    QString fileName;
    // Named after the first file; only one data set is shown at a time.
    QStringList ignoredFiles;
    LoadOptions options;

    static void describe(QCommandLineParser& parser);
    // What a parsed command line asks for; nothing, with the problem, when
    // --level or --step is not a count.
    static std::optional<CommandLine> read(const QCommandLineParser& parser, QString* problem);
};
