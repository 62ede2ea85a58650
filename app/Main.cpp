#include "app/Main.h"

#include "app/TimeBar.h"
#include "app/ViewPort.h"
#include "data/FlowData.h"
#include "data/FlowSeries.h"
#include "layers/LayerColorCoding.h"
#include "ui_MainWindow.h"

#include <QBoxLayout>
#include <QDebug>
#include <QErrorMessage>
#include <QFileDialog>

Main::Main()
    : ui(new Ui::MainWindow), errorMessage(new QErrorMessage(this)), dataPath("dat"),
      imagePath("pictures")
{
    ui->setupUi(this);
    setFileNameAsker(nullptr);
    connect(this, &Main::flowDataLoaded, ui->viewPort, &ViewPort::setFlowData);
    ui->viewPort->createLayerPanels(ui->scrollAreaWidgetContents);
    setupTimeBar();
}

void Main::setupTimeBar()
{
    // The bar goes under the view, in a column that takes the view's place
    // in the central layout; both stay children of the central widget.
    auto* outer = qobject_cast<QBoxLayout*>(ui->centralwidget->layout());
    const int at = outer->indexOf(ui->viewPort);
    const int stretch = outer->stretch(at);
    outer->removeWidget(ui->viewPort);
    auto* column = new QVBoxLayout;
    column->setSpacing(0);
    column->addWidget(ui->viewPort, 1);
    seriesBar = new TimeBar(ui->centralwidget);
    column->addWidget(seriesBar);
    outer->insertLayout(at, column, stretch);
    seriesBar->addKeysTo(ui->viewPort);
    connect(seriesBar, &TimeBar::stepReady, this, &Main::showStep);
    for (Layer* layer : ui->viewPort->layerList()) {
        if (auto* colorCoding = qobject_cast<LayerColorCoding*>(layer)) {
            connect(seriesBar, &TimeBar::seriesRangesFound, colorCoding,
                    &LayerColorCoding::setSeriesRanges);
            connect(colorCoding, &LayerColorCoding::seriesRangesWanted, seriesBar,
                    &TimeBar::findSeriesRanges);
        }
    }
}

void Main::showStep(FlowData* data)
{
    // Every layer has switched when setFlowDataStep returns.
    ui->viewPort->setFlowDataStep(data);
    emit flowDataStepped(data);
    delete flowData;
    flowData = data;
}

Main::~Main()
{
    // The layers and their background workers read the data set until they
    // are gone, so the view port goes first; the time bar stops its loads.
    delete ui->centralwidget;
    delete flowData;
    delete ui;
}

void Main::setFileNameAsker(FileNameAsker asker)
{
    if (asker) {
        askFileName = std::move(asker);
        return;
    }
    askFileName = [](const QString& caption, const QString& startPath, const QString& filter,
                     bool save) {
        return save ? QFileDialog::getSaveFileName(nullptr, caption, startPath, filter)
                    : QFileDialog::getOpenFileName(nullptr, caption, startPath, filter);
    };
}

ViewPort* Main::viewPort() const
{
    return ui->viewPort;
}

void Main::loadFlowData()
{
    const QString fileName = askFileName(
        QCoreApplication::translate("MainWindow", "Load Flow Data"), dataPath,
        QCoreApplication::translate("MainWindow", "Flow Data (*.gri);;All Files (*)"), false);
    if (fileName.isEmpty())
        return;
    dataPath = fileName;
    loadFlowData(fileName);
}

bool Main::loadFlowData(const QString& fileName)
{
    FlowData* loaded = FlowData::fromFile(fileName);
    if (!loaded) {
        qDebug() << "loadFlowData failed";
        return false;
    }
    emit flowDataLoaded(loaded);
    delete flowData;
    flowData = loaded;
    seriesBar->setSeries(FlowSeries::open(fileName, LoadOptions(), nullptr, loaded));
    qDebug() << "loadFlowData loaded";
    return true;
}

void Main::saveImage()
{
    const QString fileName = askFileName(
        QCoreApplication::translate("MainWindow", "Save Image"), imagePath,
        QCoreApplication::translate("MainWindow", "jpg (*.jpeg *.jpg *.jpe);;All Files (*)"), true);
    if (fileName.isEmpty())
        return;
    saveImage(fileName);
}

bool Main::saveImage(const QString& fileName)
{
    imagePath = fileName;
    qDebug().noquote().nospace() << "Pfad vom File: " << fileName;
    if (!ui->viewPort->exportImage(fileName)) {
        errorMessage->showMessage(
            QCoreApplication::translate("MainWindow", "The Image couldn't saved!"));
        return false;
    }
    qDebug() << "saved";
    return true;
}
