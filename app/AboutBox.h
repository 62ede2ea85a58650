#pragma once

#include <QString>

class QWidget;

// Help > About Velmora: the version (the one --version prints), where the
// colour maps and the sample data sets come from and under which terms, and
// the Qt version the program runs on.
namespace AboutBox {

// The box's rich text.
QString text();

// Shows the modal box over parent.
void show(QWidget* parent);

} // namespace AboutBox
