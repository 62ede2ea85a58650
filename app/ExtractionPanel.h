#pragma once

#include "data/ExtractionTable.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <functional>

class PlotWidget;
class QCheckBox;
class QGridLayout;
class QLabel;
class QToolButton;
class QVBoxLayout;

// One table of extracted values as a plot: chosen columns over one column,
// a check box per plotted column, a caption under the plot and an Export
// menu (the table as CSV, the plot as PNG or SVG, the table as
// tab-separated text on the clipboard). The plot shows exactly the table's
// columns; what is exported is what is shown.
class ExtractionPanel : public QWidget
{
    Q_OBJECT

public:
    // Asks for the file to export to (dialog title, filter); empty when cancelled.
    using FileNameAsker = std::function<QString(const QString& title, const QString& filter)>;

    explicit ExtractionPanel(QWidget* parent = nullptr);

    // Plots `plotted` columns of `table` over column `xColumn`. A column
    // keeps its check box's state by its name while the columns stay; a new
    // set of columns shows those of `shownAtFirst`.
    void setTable(const ExtractionTable& table, int xColumn, const QList<int>& plotted,
                  const QList<int>& shownAtFirst);
    void clear();
    void setCaption(const QString& text);
    // A vertical mark at this x (NaN: none).
    void setMarker(double x);
    // A row of the caller's controls between the plot and the caption.
    void addControls(QWidget* controls);
    void setFileNameAsker(FileNameAsker asker) { askFileName = std::move(asker); }

    const ExtractionTable& table() const { return values; }
    PlotWidget* plotWidget() const { return plot; }
    QString caption() const;

    // The exports behind the menu, for the named file.
    bool exportCsv(const QString& fileName) const;
    bool exportPicture(const QString& fileName) const;
    void copyToClipboard() const;

signals:
    // Emitted when the user has switched a series on or off.
    void seriesToggled();

private:
    void rebuildBoxes(const QList<int>& shownAtFirst);
    void exportWith(const QString& title, const QString& filter, bool picture);

    ExtractionTable values;
    int xIndex = -1;
    QList<int> columns;
    PlotWidget* plot;
    QWidget* boxArea;
    QGridLayout* boxGrid;
    QList<QCheckBox*> boxes;
    QVBoxLayout* column;
    QLabel* captionLabel;
    QToolButton* exportButton;
    FileNameAsker askFileName;
};
