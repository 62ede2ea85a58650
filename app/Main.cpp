#include "app/Main.h"

#include "app/VariableChoiceDialog.h"
#include "app/ViewPort.h"
#include "data/FlowData.h"
#include "data/FlowFileReader.h"
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
    const QString fileName =
        askFileName(QCoreApplication::translate("MainWindow", "Load Flow Data"), dataPath,
                    FlowFileReader::fileDialogFilters().join(QStringLiteral(";;")), false);
    if (fileName.isEmpty())
        return;
    dataPath = fileName;
    loadFlowData(fileName);
}

bool Main::loadFlowData(const QString& fileName)
{
    // A file that leaves the velocity pair open asks for it, then loads again.
    LoadOptions options;
    QString reason;
    FlowData* loaded = FlowData::fromFile(fileName, options, &reason);
    while (!loaded && VariableChoiceDialog::offer(this, fileName, reason, &options))
        loaded = FlowData::fromFile(fileName, options, &reason);
    if (!loaded) {
        qDebug().noquote() << "Main/loadFlowData: " + reason;
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
