#pragma once

#include <QApplication>
#include <QList>
#include <QMetaType>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>

// A sequence of mouse events in host pixel coordinates, delivered through the
// application as the window system would: moves carry the buttons still held.
struct MouseStep
{
    QEvent::Type type;
    Qt::MouseButton button;
    QPoint position;
};
using MouseScript = QList<MouseStep>;
Q_DECLARE_METATYPE(MouseScript)

inline MouseStep press(int x, int y, Qt::MouseButton button = Qt::LeftButton)
{
    return {QEvent::MouseButtonPress, button, QPoint(x, y)};
}

inline MouseStep release(int x, int y, Qt::MouseButton button = Qt::LeftButton)
{
    return {QEvent::MouseButtonRelease, button, QPoint(x, y)};
}

inline MouseStep move(int x, int y)
{
    return {QEvent::MouseMove, Qt::NoButton, QPoint(x, y)};
}

inline MouseStep doubleClick(int x, int y, Qt::MouseButton button = Qt::LeftButton)
{
    return {QEvent::MouseButtonDblClick, button, QPoint(x, y)};
}

inline MouseScript click(int x, int y, Qt::MouseButton button = Qt::LeftButton)
{
    return {press(x, y, button), release(x, y, button)};
}

// The toolkit's order for a double-click: press, release, double-click, release.
inline MouseScript fullDoubleClick(int x, int y)
{
    return {press(x, y), release(x, y), doubleClick(x, y), release(x, y)};
}

// Moves without a held button reach only widgets that track the mouse, as
// with real input; `held` continues a drag begun by an earlier script;
// `modifiers` are held throughout.
inline void play(QWidget* host, const MouseScript& script, Qt::MouseButtons held = {},
                 Qt::KeyboardModifiers modifiers = {})
{
    for (const MouseStep& step : script) {
        if (step.type == QEvent::MouseButtonPress || step.type == QEvent::MouseButtonDblClick)
            held |= step.button;
        else if (step.type == QEvent::MouseButtonRelease)
            held &= ~Qt::MouseButtons(step.button);
        const QPointF local(step.position);
        QMouseEvent event(step.type, local, host->mapToGlobal(local), step.button, held, modifiers);
        QApplication::sendEvent(host, &event);
    }
}

// A wheel turn of `delta` eighths of a degree at `at`; 120 is one notch away
// from the user.
inline void wheel(QWidget* host, const QPointF& at, int delta)
{
    QWheelEvent event(at, host->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(host, &event);
}
