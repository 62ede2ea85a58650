#pragma once

#include "formats/LoadOptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>

// The command-line options every tool takes to choose what a file leaves
// open: --u VAR, --v VAR (or FILE:VAR), --level K and the time step T as
// --time-step (and --step where a tool has no step of its own).
namespace LoadOptionArguments {

inline void add(QCommandLineParser& parser, bool stepAlias)
{
    // --version alone: QCommandLineParser's version option would also take -v.
    parser.addOption({QStringLiteral("version"), QStringLiteral("Displays version information.")});
    parser.addOption({QStringLiteral("u"),
                      QStringLiteral("variable (or column, or array) of the x velocity; FILE:VAR "
                                     "names one in another file on the same grid."),
                      QStringLiteral("VAR")});
    parser.addOption({QStringLiteral("v"), QStringLiteral("variable of the y velocity."),
                      QStringLiteral("VAR")});
    parser.addOption({QStringLiteral("level"),
                      QStringLiteral("index along a depth or level dimension (default 0)."),
                      QStringLiteral("K"), QStringLiteral("0")});
    QStringList stepNames{QStringLiteral("time-step")};
    if (stepAlias)
        stepNames.prepend(QStringLiteral("step"));
    parser.addOption({stepNames, QStringLiteral("time step to load (default 0)."),
                      QStringLiteral("T"), QStringLiteral("0")});
}

// False with a problem when --level or the step is not a count.
inline bool read(const QCommandLineParser& parser, LoadOptions* options, QString* problem)
{
    options->uVariable = parser.value(QStringLiteral("u"));
    options->vVariable = parser.value(QStringLiteral("v"));
    bool levelOk = false;
    bool stepOk = false;
    options->level = parser.value(QStringLiteral("level")).toInt(&levelOk);
    options->step = parser.value(QStringLiteral("time-step")).toInt(&stepOk);
    if (!levelOk || options->level < 0) {
        *problem = QStringLiteral("--level: not a count: ") + parser.value(QStringLiteral("level"));
        return false;
    }
    if (!stepOk || options->step < 0) {
        *problem = QStringLiteral("--time-step: not a count: ") +
                   parser.value(QStringLiteral("time-step"));
        return false;
    }
    return true;
}

} // namespace LoadOptionArguments
