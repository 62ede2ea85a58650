#pragma once

#include <QString>
#include <QtGlobal>

// The shipped sample data set of that name, from the source tree.
inline QString samplePath(const QString& name)
{
    return qEnvironmentVariable("VELMORA_SOURCE_DIR") + "/dat/" + name + ".gri";
}

// The layers' workers time their resampling on their own threads; their debug
// lines would meet in the test logger's buffer, whose lock the thread checker
// cannot see. Tests that do not look at debug lines drop them.
inline QtMessageHandler testLogHandler = nullptr;

inline void dropDebugLines()
{
    testLogHandler = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            if (type != QtDebugMsg && testLogHandler)
                testLogHandler(type, context, message);
        });
}
