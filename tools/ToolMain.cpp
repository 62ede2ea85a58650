#include "tools/ToolMain.h"

#include "app/Version.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

// What quietDebug keeps; a message handler is a plain function.
QString keptDebug;
QString debugLinePrefix;

void filterDebug(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    const bool chatter = (type == QtDebugMsg || type == QtInfoMsg) &&
                         (keptDebug.isEmpty() || !message.startsWith(keptDebug));
    if (!chatter)
        ToolMain::writeError(debugLinePrefix + message + QLatin1Char('\n'));
}

} // namespace

ToolMain::ToolMain(int& argc, char** argv, const QString& newName)
    : ToolMain(std::make_unique<QCoreApplication>(argc, argv), newName)
{
}

ToolMain::ToolMain(std::unique_ptr<QCoreApplication> newApplication, const QString& newName)
    : application(std::move(newApplication)), name(newName)
{
    QCoreApplication::setApplicationName(newName);
    QCoreApplication::setApplicationVersion(QLatin1String(velmoraVersion));
    commandLine.addHelpOption();
}

ToolMain::~ToolMain() = default;

std::optional<int> ToolMain::parse(const QString& usage)
{
    if (!commandLine.parse(QCoreApplication::arguments())) {
        report(commandLine.errorText());
        if (!usage.isEmpty())
            writeError(usage);
        return 2;
    }
    if (commandLine.isSet(QStringLiteral("help"))) {
        std::fputs(commandLine.helpText().toUtf8().constData(), stdout);
        return 0;
    }
    if (commandLine.isSet(QStringLiteral("version")))
        commandLine.showVersion();
    return std::nullopt;
}

void ToolMain::report(const QString& message) const
{
    writeError(name + QStringLiteral(": ") + message + QLatin1Char('\n'));
}

void ToolMain::writeError(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

int ToolMain::usageError(const QString& problem, const QString& usage) const
{
    if (!problem.isEmpty())
        report(problem);
    writeError(usage);
    return 2;
}

void ToolMain::quietDebug(const QString& keptDebugPrefix, bool named) const
{
    keptDebug = keptDebugPrefix;
    debugLinePrefix = named ? name + QStringLiteral(": ") : QString();
    qInstallMessageHandler(filterDebug);
}
