#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QtGlobal>

// Collects the debug-stream lines written while it lives, in order. One
// capture at a time.
class MessageCapture
{
public:
    MessageCapture()
    {
        QMutexLocker locker(&mutex);
        storage.clear();
        previous = qInstallMessageHandler(&MessageCapture::collect);
    }
    ~MessageCapture() { qInstallMessageHandler(previous); }
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    QStringList lines() const
    {
        QMutexLocker locker(&mutex);
        return storage;
    }

private:
    static void collect(QtMsgType, const QMessageLogContext&, const QString& message)
    {
        QMutexLocker locker(&mutex);
        storage.append(message);
    }
    static inline QStringList storage;
    static inline QMutex mutex;

    QtMessageHandler previous = nullptr;
};
