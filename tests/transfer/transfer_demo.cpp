// Shows a transfer function widget with a few coloured stops for a look by
// eye; with a file name argument it writes the window's picture there instead.
#include "HoverPoints.h"
#include "MouseScript.h"
#include "TransferFunctionWidget.h"

#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Transfer function"));
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(
        new QLabel(QStringLiteral("Drag, add (left), remove (right), colour (double)")));
    auto* function = new TransferFunctionWidget(&window);
    layout->addWidget(function);
    layout->addStretch();
    window.resize(360, 160);
    window.show();

    // Colour two new stops through the editor's colour seam, as a user would.
    const QList<QColor> picks{QColor(220, 40, 30), QColor(40, 90, 230)};
    int pick = 0;
    function->editor()->setColorPicker([&](const QColor&) { return picks.value(pick++); });
    const int w = function->width();
    const int h = function->height();
    play(function, fullDoubleClick(w * 3 / 10, h * 4 / 10));
    play(function, fullDoubleClick(w * 7 / 10, h * 7 / 10));
    function->editor()->setColorPicker(nullptr);

    if (argc > 1)
        return window.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
    return application.exec();
}
