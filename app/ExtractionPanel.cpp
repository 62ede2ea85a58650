#include "app/ExtractionPanel.h"

#include "app/PlotWidget.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QToolButton>

#include <cmath>

namespace {

// Distinct on white and for the common forms of colour blindness (Tableau 10).
const QColor seriesColours[] = {QColor(31, 119, 180),  QColor(255, 127, 14),  QColor(44, 160, 44),
                                QColor(214, 39, 40),   QColor(148, 103, 189), QColor(140, 86, 75),
                                QColor(227, 119, 194), QColor(127, 127, 127), QColor(188, 189, 34),
                                QColor(23, 190, 207)};
constexpr int paletteSize = int(sizeof(seriesColours) / sizeof(seriesColours[0]));
constexpr int boxesPerRow = 5;
// Saved pictures do not depend on the dock's size.
const QSize pictureSize(1000, 600);

} // namespace

ExtractionPanel::ExtractionPanel(QWidget* parent)
    : QWidget(parent), plot(new PlotWidget(this)), boxArea(new QWidget(this)),
      boxGrid(new QGridLayout(boxArea)), column(new QVBoxLayout(this)),
      captionLabel(new QLabel(this)), exportButton(new QToolButton(this))
{
    column->setContentsMargins(4, 4, 4, 4);
    column->addWidget(plot, 1);
    boxGrid->setContentsMargins(0, 0, 0, 0);
    column->addWidget(boxArea);
    auto* bottom = new QHBoxLayout;
    captionLabel->setWordWrap(true);
    captionLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bottom->addWidget(captionLabel, 1);
    exportButton->setText(tr("Export…"));
    exportButton->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(exportButton);
    connect(menu->addAction(tr("CSV…")), &QAction::triggered, this,
            [this] { exportWith(tr("Export CSV"), tr("CSV (*.csv);;All Files (*)"), false); });
    connect(menu->addAction(tr("PNG…")), &QAction::triggered, this,
            [this] { exportWith(tr("Export PNG"), tr("png (*.png);;All Files (*)"), true); });
    connect(menu->addAction(tr("SVG…")), &QAction::triggered, this,
            [this] { exportWith(tr("Export SVG"), tr("svg (*.svg);;All Files (*)"), true); });
    connect(menu->addAction(tr("Copy")), &QAction::triggered, this,
            &ExtractionPanel::copyToClipboard);
    exportButton->setMenu(menu);
    exportButton->setEnabled(false);
    bottom->addWidget(exportButton, 0, Qt::AlignTop);
    column->addLayout(bottom);
    askFileName = [this](const QString& caption, const QString& filter) {
        return QFileDialog::getSaveFileName(this, caption, QString(), filter);
    };
}

void ExtractionPanel::addControls(QWidget* controls)
{
    column->insertWidget(2, controls);
}

void ExtractionPanel::setTable(const ExtractionTable& table, int xColumn, const QList<int>& plotted,
                               const QList<int>& shownAtFirst)
{
    // The check boxes stay while the columns do (every step of a series,
    // every move of the line), so the user's choice stays too.
    bool sameColumns = plotted.size() == columns.size() && xColumn == xIndex;
    for (qsizetype k = 0; sameColumns && k < plotted.size(); ++k)
        sameColumns = values.columnCount() > columns.at(k) &&
                      table.heading(plotted.at(k)) == values.heading(columns.at(k));
    values = table;
    const bool usable = xColumn >= 0 && xColumn < table.columnCount();
    xIndex = usable ? xColumn : -1;
    columns = usable ? plotted : QList<int>();
    if (!sameColumns)
        rebuildBoxes(shownAtFirst);
    exportButton->setEnabled(usable && values.rowCount() > 0);
    if (!usable) {
        plot->plot().setSeries({});
        plot->update();
        return;
    }

    QList<SeriesPlot::Series> series;
    for (qsizetype k = 0; k < columns.size(); ++k) {
        const ExtractionTable::Column& shown = values.column(columns.at(k));
        series.append({shown.name, shown.unit, seriesColours[k % paletteSize],
                       values.values(xIndex), shown.values, boxes.at(k)->isChecked()});
    }
    const ExtractionTable::Column& x = values.column(xIndex);
    plot->plot().setXAxis(x.name, x.unit);
    plot->plot().setSeries(series);
    plot->update();
}

void ExtractionPanel::rebuildBoxes(const QList<int>& shownAtFirst)
{
    qDeleteAll(boxes);
    boxes.clear();
    for (qsizetype k = 0; k < columns.size(); ++k) {
        const int index = columns.at(k);
        auto* box = new QCheckBox(values.heading(index), boxArea);
        QPalette colours = box->palette();
        colours.setColor(QPalette::WindowText, seriesColours[k % paletteSize].darker(120));
        box->setPalette(colours);
        box->setChecked(shownAtFirst.contains(index));
        connect(box, &QCheckBox::toggled, this, [this, k](bool on) {
            plot->plot().setVisible(int(k), on);
            plot->update();
            emit seriesToggled();
        });
        boxGrid->addWidget(box, int(k / boxesPerRow), int(k % boxesPerRow));
        boxes.append(box);
    }
}

void ExtractionPanel::clear()
{
    setTable(ExtractionTable(), -1, {}, {});
    plot->plot().clearMarker();
    plot->update();
    captionLabel->clear();
}

void ExtractionPanel::setCaption(const QString& text)
{
    captionLabel->setText(text);
}

QString ExtractionPanel::caption() const
{
    return captionLabel->text();
}

void ExtractionPanel::setMarker(double x)
{
    if (std::isfinite(x))
        plot->plot().setMarker(x);
    else
        plot->plot().clearMarker();
    plot->update();
}

bool ExtractionPanel::exportCsv(const QString& fileName) const
{
    QFile file(fileName);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && values.writeCsv(file) &&
           file.flush();
}

bool ExtractionPanel::exportPicture(const QString& fileName) const
{
    return plot->save(fileName, pictureSize);
}

void ExtractionPanel::copyToClipboard() const
{
    QApplication::clipboard()->setText(values.toTabSeparated());
}

void ExtractionPanel::exportWith(const QString& title, const QString& filter, bool picture)
{
    QString fileName = askFileName(title, filter);
    if (fileName.isEmpty())
        return;
    if (QFileInfo(fileName).suffix().isEmpty())
        fileName += picture ? (filter.startsWith(QStringLiteral("svg")) ? QStringLiteral(".svg")
                                                                        : QStringLiteral(".png"))
                            : QStringLiteral(".csv");
    const bool written = picture ? exportPicture(fileName) : exportCsv(fileName);
    if (!written)
        QMessageBox::warning(this, title,
                             tr("Could not write %1").arg(QDir::toNativeSeparators(fileName)));
}
