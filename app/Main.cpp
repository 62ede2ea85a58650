#include "app/Main.h"

#include "app/AboutBox.h"
#include "app/ViewPort.h"
#include "data/FlowData.h"
#include "ui_MainWindow.h"

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
    connect(ui->actionAbout, &QAction::triggered, this, [this] { AboutBox::show(this); });
    ui->viewPort->createLayerPanels(ui->scrollAreaWidgetContents);
}

Main::~Main()
{
    // The layers and their background workers read the data set until they
    // are gone, so the view port goes first.
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
