#include "app/AboutBox.h"

#include "app/Version.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QtGlobal>

namespace AboutBox {

QString text()
{
    // Translated in the form's context, beside the menu entry that opens it.
    return QCoreApplication::translate(
               "MainWindow",
               "<h3>Velmora %1</h3>"
               "<p>Looks at two-dimensional flow data sets through layers of colour coding, "
               "arrows and evenly-spaced streamlines.</p>"
               "<p><b>Colour maps.</b> viridis, cividis, magma and inferno are dedicated to the "
               "public domain by their authors (CC0 1.0). coolwarm is computed from its "
               "published formula.</p>"
               "<p><b>Sample data sets.</b> The data sets in <tt>dat/</tt> are computed from "
               "analytic flows by Velmora's own <tt>velmora-gendata</tt>.</p>"
               "<p>Qt %2 (built with Qt %3)</p>")
        .arg(QLatin1String(velmoraVersion), QLatin1String(qVersion()),
             QLatin1String(QT_VERSION_STR));
}

void show(QWidget* parent)
{
    QMessageBox::about(parent, QCoreApplication::translate("MainWindow", "About Velmora"), text());
}

} // namespace AboutBox
