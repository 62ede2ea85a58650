#pragma once

#include <QCommandLineParser>
#include <QString>

#include <memory>
#include <optional>

class QCoreApplication;

// What every command-line tool does around its own work: the application
// object (named NAME, with the project version), the command line with
// --help and --version answered, the debug filter, and errors written to
// standard error in one way. A tool creates one first thing in main and
// keeps it for the whole run; the application object lives as long as it.
//
// Exit status conventions: 0 on success, 1 when the work fails, 2 on a
// wrong command line (usageError).
class ToolMain
{
public:
    // A tool without widgets: a QCoreApplication.
    ToolMain(int& argc, char** argv, const QString& name);

    // A tool that composes widgets without a window: WidgetApplication is
    // QApplication, made on the offscreen platform unless QT_QPA_PLATFORM
    // names one.
    template <class WidgetApplication>
    static ToolMain offscreen(int& argc, char** argv, const QString& name)
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        return ToolMain(std::make_unique<WidgetApplication>(argc, argv), name);
    }

    ~ToolMain();

    // The tool adds its description, options and positional arguments
    // (the help option is there already) before parse().
    QCommandLineParser& parser() { return commandLine; }

    // Parses the command line and answers --help with the help text on
    // standard output (status 0) and --version (which exits with 0). A
    // command line that does not parse is reported, followed by `usage` when
    // given (status 2). Returns the exit status when the tool is done,
    // nothing when it goes on.
    std::optional<int> parse(const QString& usage = QString());

    // "NAME: message" and a line break on standard error.
    void report(const QString& message) const;
    // `text` as it is on standard error.
    static void writeError(const QString& text);
    // Reports `problem` (when not empty), then `usage` as it is; returns 2.
    int usageError(const QString& problem, const QString& usage) const;

    // From here on, debug and info lines are dropped: the loader and the
    // timers talk there for the program's sake. Debug lines starting with
    // `keptDebugPrefix` (when not empty) are the tool's own diagnostics and
    // stay. What remains goes to standard error, after "NAME: " when `named`.
    void quietDebug(const QString& keptDebugPrefix = QString(), bool named = false) const;

private:
    ToolMain(std::unique_ptr<QCoreApplication> application, const QString& name);

    std::unique_ptr<QCoreApplication> application;
    QString name;
    QCommandLineParser commandLine;
};
