#include "app/Main.h"

#include "app/AboutBox.h"
#include "app/ExtractionDock.h"
#include "app/ReferenceFrameDialog.h"
#include "app/SeriesPlayer.h"
#include "app/SessionBinding.h"
#include "app/TimeBar.h"
#include "app/VariableChoiceDialog.h"
#include "app/ViewPort.h"
#include "data/DerivedFieldCache.h"
#include "data/FlowData.h"
#include "data/FlowProbe.h"
#include "data/FlowSeries.h"
#include "formats/FlowFileReader.h"
#include "layers/LayerColorCoding.h"
#include "streamlines/LayerStreamlines.h"
#include "ui_MainWindow.h"

#include <QBoxLayout>
#include <QDebug>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QErrorMessage>
#include <QFileDialog>
#include <QFileInfo>
#include <QMimeData>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace {

// The first local file among dropped URLs; empty when there is none.
QString droppedFileName(const QMimeData* mimeData)
{
    if (!mimeData || !mimeData->hasUrls())
        return QString();
    for (const QUrl& url : mimeData->urls()) {
        if (url.isLocalFile())
            return url.toLocalFile();
    }
    return QString();
}

} // namespace

Main::Main()
    : ui(new Ui::MainWindow), errorMessage(new QErrorMessage(this)), dataPath("dat"),
      imagePath("pictures"), sessionPath("dat")
{
    ui->setupUi(this);
    setFileNameAsker(nullptr);
    connect(this, &Main::flowDataLoaded, ui->viewPort, &ViewPort::setFlowData);
    connect(ui->viewPort, &ViewPort::cursorMoved, this, &Main::showValuesAt);
    connect(ui->viewPort, &ViewPort::cursorLeft, this, [this] {
        if (!loadedMessage.isEmpty())
            statusBar()->showMessage(loadedMessage);
    });
    connect(ui->actionOpenSession, &QAction::triggered, this, qOverload<>(&Main::openSession));
    connect(ui->actionSaveSession, &QAction::triggered, this, qOverload<>(&Main::saveSession));
    connect(ui->actionAbout, &QAction::triggered, this, [this] { AboutBox::show(this); });
    connect(ui->actionReference_Frame, &QAction::triggered, this, &Main::askReferenceFrame);
    for (LayerStreamlines* lines : ui->viewPort->layerStack().streamlines())
        connect(lines, &LayerStreamlines::tracingIncomplete, this, [this](const QString& why) {
            if (!why.isEmpty())
                statusBar()->showMessage(
                    QCoreApplication::translate("MainWindow", "Streamlines incomplete: %1")
                        .arg(why));
        });
    ui->viewPort->createLayerPanels(ui->scrollAreaWidgetContents);
    setupTimeBar();
    setupExtraction();
    // Children that take no drops hand them up to the window.
    setAcceptDrops(true);
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
    seriesBar->setStepReceiver(
        [this](std::unique_ptr<FlowData> newData) { showStep(std::move(newData)); });
    for (LayerColorCoding* colorCoding : ui->viewPort->layerStack().colorCodings()) {
        connect(seriesBar, &TimeBar::seriesRangesFound, colorCoding,
                &LayerColorCoding::setSeriesRanges);
        connect(colorCoding, &LayerColorCoding::seriesRangesWanted, seriesBar,
                &TimeBar::findSeriesRanges);
    }
}

void Main::setupExtraction()
{
    extraction = new ExtractionDock(this);
    addDockWidget(Qt::BottomDockWidgetArea, extraction);
    extraction->hide();
    ui->menuView->addAction(extraction->toggleViewAction());
    ViewPort* view = ui->viewPort;
    connect(ui->actionProfile_Line, &QAction::toggled, view, &ViewPort::setProfileToolActive);
    connect(view, &ViewPort::profileLineChanged, extraction, &ExtractionDock::setProfileLine);
    connect(view, &ViewPort::pointPinned, extraction, &ExtractionDock::pinPoint);
    connect(view, &ViewPort::seedsPicked, this, &Main::addStreamlineSeeds);
    connect(extraction, &ExtractionDock::profileLineCleared, view, &ViewPort::clearProfileLine);
    connect(extraction, &ExtractionDock::pointCleared, view, &ViewPort::clearPinnedPoint);
    connect(seriesBar->player(), &SeriesPlayer::showRequested, extraction,
            &ExtractionDock::setCurrentStep);
}

void Main::addStreamlineSeeds(const QPointF& unitFrom, const QPointF& unitTo)
{
    const FlowData* grid = shownFlowData();
    if (!grid)
        return;
    // A rake dragged past the picture's edge ends on it.
    const auto onGrid = [grid](const QPointF& unit) {
        return FlowProbe::physicalPosition(*grid, std::clamp(unit.x(), 0.0, 1.0),
                                           std::clamp(unit.y(), 0.0, 1.0));
    };
    for (LayerStreamlines* streamlines : ui->viewPort->layerStack().streamlines()) {
        if (streamlines->isVisible())
            streamlines->addRake(onGrid(unitFrom), onGrid(unitTo));
    }
}

void Main::showExtractionData()
{
    QList<const ScalarSet*> derived;
    QList<DerivedField::Kind> kinds;
    for (int k = 0; derivedCache && k < DerivedField::kindCount; ++k) {
        if (const ScalarSet* set = derivedCache->find(DerivedField::Kind(k))) {
            derived << set;
            kinds << DerivedField::Kind(k);
        }
    }
    // The profile reads what the layers show, in the reference frame.
    extraction->setReferenceFrame(frame);
    extraction->setFlowData(shownFlowData(), derived, kinds);
}

void Main::showStep(std::unique_ptr<FlowData> newData)
{
    std::unique_ptr<FlowData> framed = inReferenceFrame(*newData);
    FlowData* shown = framed ? framed.get() : newData.get();
    // Every layer has switched when setFlowDataStep returns.
    ui->viewPort->setFlowDataStep(shown);
    emit flowDataStepped(shown);
    replaceFlowData(newData.release(), std::move(framed));
}

std::unique_ptr<FlowData> Main::inReferenceFrame(const FlowData& fileData)
{
    QString reason;
    std::unique_ptr<FlowData> framed = frame.apply(fileData, &reason);
    if (!framed && !reason.isEmpty())
        statusBar()->showMessage(
            QCoreApplication::translate("MainWindow", "Shown at rest: %1").arg(reason),
            failureMessageMs);
    return framed;
}

void Main::setReferenceFrame(const ReferenceFrame& newFrame)
{
    frame = newFrame;
    if (!flowData)
        return;
    std::unique_ptr<FlowData> framed = inReferenceFrame(*flowData);
    FlowData* shown = framed ? framed.get() : flowData;
    ui->viewPort->setFlowDataStep(shown);
    emit flowDataStepped(shown);
    framedData = std::move(framed);
    // A step forgets the derived sets; the file's field, and so its cache,
    // is the same in every frame.
    for (LayerColorCoding* colorCoding : ui->viewPort->layerStack().colorCodings())
        colorCoding->setDerivedFieldCache(derivedCache.get());
    showExtractionData();
    statusBar()->showMessage(QCoreApplication::translate("MainWindow", "Reference frame: %1")
                                 .arg(frame.describe(*flowData)));
}

void Main::askReferenceFrame()
{
    ReferenceFrameDialog dialog(this, frame, flowData);
    if (dialog.exec() == QDialog::Accepted)
        setReferenceFrame(dialog.chosenFrame());
}

void Main::replaceFlowData(FlowData* newData, std::unique_ptr<FlowData> framed)
{
    derivedCache.reset();
    delete flowData;
    flowData = newData;
    framedData = std::move(framed);
    if (newData)
        derivedCache = std::make_unique<DerivedFieldCache>(*newData);
    for (LayerColorCoding* colorCoding : ui->viewPort->layerStack().colorCodings())
        colorCoding->setDerivedFieldCache(derivedCache.get());
    // A derived set computed later joins the profile then.
    if (derivedCache)
        connect(derivedCache.get(), &DerivedFieldCache::computed, this, &Main::showExtractionData);
    showExtractionData();
}

Main::~Main()
{
    // The point's history reads the series the time bar owns.
    extraction->setSeries(nullptr);
    // The layers and their background workers read the data set until they
    // are gone, so the view port goes first; the time bar stops its loads.
    delete ui->centralwidget;
    derivedCache.reset();
    framedData.reset();
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

bool Main::openFlowData(const QString& fileName, const LoadOptions& options)
{
    dataPath = fileName;
    return loadFlowData(fileName, options);
}

bool Main::openFile(const QString& fileName, const LoadOptions& options)
{
    if (QFileInfo(fileName).suffix().compare(QStringLiteral("velmora"), Qt::CaseInsensitive) == 0)
        return openSession(fileName);
    return openFlowData(fileName, options);
}

void Main::dragEnterEvent(QDragEnterEvent* event)
{
    if (!droppedFileName(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void Main::dropEvent(QDropEvent* event)
{
    const QString fileName = droppedFileName(event->mimeData());
    if (fileName.isEmpty())
        return;
    event->acceptProposedAction();
    // Not inside the drop: the source waits for it to return, and the
    // variable dialog may come up.
    QTimer::singleShot(0, this, [this, fileName] { openFile(fileName); });
}

bool Main::loadFlowData(const QString& fileName)
{
    return loadFlowData(fileName, LoadOptions());
}

bool Main::loadFlowData(const QString& fileName, const LoadOptions& initialOptions)
{
    // A file that leaves the velocity pair open asks for it, then loads again.
    LoadOptions options = initialOptions;
    ReadFailure failure;
    FlowData* loaded = FlowData::fromFile(fileName, options, &failure);
    // A component from another file is asked for as the Load dialog asks.
    auto askComponentFile = [this] {
        return askFileName(
            QCoreApplication::translate("MainWindow", "Velocity component from another file"),
            dataPath, FlowFileReader::fileDialogFilters().join(QStringLiteral(";;")), false);
    };
    while (!loaded && VariableChoiceDialog::offer(this, failure, &options, askComponentFile))
        loaded = FlowData::fromFile(fileName, options, &failure);
    const QString& reason = failure.reason;
    const QString name = QFileInfo(fileName).fileName();
    if (!loaded) {
        qDebug().noquote() << "Main/loadFlowData: " + reason;
        qDebug() << "loadFlowData failed";
        // The readers' reasons may name the file by its whole path and list
        // every variable; the bar names it once and stays within the window,
        // the tooltip keeps the whole reason.
        QString brief = reason;
        brief.replace(QFileInfo(fileName).absoluteFilePath(), name).replace(fileName, name);
        if (brief.size() > briefReasonLength) {
            const int cut = brief.lastIndexOf(QLatin1Char(' '), briefReasonLength);
            brief = brief.left(cut > briefReasonLength / 2 ? cut : briefReasonLength) +
                    QStringLiteral(" …");
        }
        statusBar()->showMessage(
            QCoreApplication::translate("MainWindow", "Could not load %1: %2").arg(name, brief),
            failureMessageMs);
        statusBar()->setToolTip(reason);
        // The tooltip goes with the message.
        connect(
            statusBar(), &QStatusBar::messageChanged, this,
            [this] { statusBar()->setToolTip(QString()); }, Qt::SingleShotConnection);
        return false;
    }
    std::unique_ptr<FlowData> framed = inReferenceFrame(*loaded);
    emit flowDataLoaded(framed ? framed.get() : loaded);
    replaceFlowData(loaded, std::move(framed));
    loadedFile = QFileInfo(fileName).absoluteFilePath();
    loadedOptions = options;
    // The later steps need the variables and level this one was read with.
    // The series numbers a file's inner steps from 0, so the data set in
    // hand is its chosen step only when that is step 0.
    FlowSeries* series =
        FlowSeries::open(fileName, options, nullptr, options.step == 0 ? loaded : nullptr);
    extraction->setSeries(nullptr);
    seriesBar->setSeries(series);
    extraction->setSeries(seriesBar->series());
    if (series && options.step > 0) {
        for (int index = 0; index < series->stepCount(); ++index) {
            if (series->stepNumber(index) == options.step)
                seriesBar->player()->seek(index);
        }
    }
    qDebug() << "loadFlowData loaded";
    loadedMessage =
        QCoreApplication::translate("MainWindow", "%1: %2 × %3 grid, %4 scalar sets, %5 time steps")
            .arg(QFileInfo(FlowData::dataName(fileName)).fileName())
            .arg(loaded->resolutionXValue())
            .arg(loaded->resolutionYValue())
            .arg(loaded->scalarSetCount() - 1)
            .arg(series ? series->stepCount() : loaded->timeStepsValue());
    statusBar()->showMessage(loadedMessage);
    if (pendingSession) {
        const Session session = *pendingSession;
        pendingSession.reset();
        applySession(session);
    }
    return true;
}

void Main::showValuesAt(bool inside, const QPointF& unitPosition)
{
    const FlowData* grid = shownFlowData();
    if (!grid)
        return;
    const FlowProbe::Reading reading =
        inside ? FlowProbe::read(*grid, unitPosition.x(), unitPosition.y())
               : FlowProbe::read(*grid, -1.0, -1.0);
    QString text = FlowProbe::describe(*grid, reading);
    // Only the derived sets already computed: a read-out never starts one.
    QList<const ScalarSet*> derived;
    for (int k = 0; derivedCache && k < DerivedField::kindCount; ++k)
        if (const ScalarSet* set = derivedCache->find(DerivedField::Kind(k)))
            derived << set;
    if (!derived.isEmpty())
        text += QStringLiteral(", ") + FlowProbe::describeSets(*grid, derived,
                                                               inside ? unitPosition.x() : -1.0,
                                                               unitPosition.y());
    statusBar()->showMessage(text);
}

void Main::saveImage()
{
    const QString fileName = askFileName(
        QCoreApplication::translate("MainWindow", "Save Image"), imagePath,
        QCoreApplication::translate(
            "MainWindow", "jpg (*.jpeg *.jpg *.jpe);;png (*.png);;svg (*.svg);;pdf (*.pdf);;All "
                          "Files (*)"),
        true);
    if (fileName.isEmpty())
        return;
    saveImage(fileName);
}

bool Main::saveImage(const QString& name)
{
    const QString fileName =
        QFileInfo(name).suffix().isEmpty() ? name + QStringLiteral(".jpg") : name;
    imagePath = fileName;
    qDebug().noquote().nospace() << "Pfad vom File: " << fileName;
    if (!ui->viewPort->exportImage(fileName)) {
        // The dialog may have been told not to show this again; the line stays.
        qDebug().noquote() << "Main/saveImage: The Image couldn't saved!" << fileName;
        errorMessage->showMessage(
            QCoreApplication::translate("MainWindow", "The Image couldn't saved!"));
        return false;
    }
    qDebug() << "saved";
    return true;
}

void Main::showFailure(const QString& message)
{
    qDebug().noquote() << "Main:" << message;
    statusBar()->showMessage(message, failureMessageMs);
}

int Main::currentStepNumber() const
{
    const FlowSeries* series = seriesBar->series();
    const int shown = seriesBar->player()->shownStep();
    if (series && shown >= 0 && shown < series->stepCount())
        return series->stepNumber(shown);
    return loadedOptions.step;
}

void Main::openSession()
{
    const QString fileName = askFileName(
        QCoreApplication::translate("MainWindow", "Open Session"), sessionPath,
        QCoreApplication::translate("MainWindow", "Velmora sessions (*.velmora);;All Files (*)"),
        false);
    if (!fileName.isEmpty())
        openSession(fileName);
}

void Main::saveSession()
{
    const QString fileName = askFileName(
        QCoreApplication::translate("MainWindow", "Save Session"), sessionPath,
        QCoreApplication::translate("MainWindow", "Velmora sessions (*.velmora);;All Files (*)"),
        true);
    if (!fileName.isEmpty())
        saveSession(fileName);
}

bool Main::saveSession(const QString& name)
{
    const QString fileName =
        QFileInfo(name).suffix().isEmpty() ? name + QStringLiteral(".velmora") : name;
    sessionPath = fileName;
    Session session = currentSession;
    SessionBinding::capture(*ui->viewPort, &session);
    session.dataFile = flowData ? loadedFile : QString();
    session.options = loadedOptions;
    session.step = currentStepNumber();
    session.frame = frame;
    session.profileLine = extraction->profileVertices();
    session.pinnedPoint.reset();
    if (extraction->hasPinnedPoint())
        session.pinnedPoint = extraction->pointPosition();
    session.grid =
        flowData ? QSize(flowData->resolutionXValue(), flowData->resolutionYValue()) : QSize();
    QString reason;
    if (!session.write(fileName, &reason)) {
        showFailure(QCoreApplication::translate("MainWindow", "Could not save session %1: %2")
                        .arg(QFileInfo(fileName).fileName(), reason));
        return false;
    }
    currentSession = session;
    statusBar()->showMessage(
        QCoreApplication::translate("MainWindow", "Session saved to %1").arg(fileName));
    return true;
}

bool Main::openSession(const QString& fileName)
{
    sessionPath = fileName;
    const QString name = QFileInfo(fileName).fileName();
    QString reason;
    std::optional<Session> session = Session::read(fileName, &reason);
    const QFileInfo dataInfo(session ? session->dataFile : QString());
    if (session && dataInfo.exists() && !dataInfo.isFile())
        reason = QCoreApplication::translate("MainWindow", "data file %1 is not a regular file")
                     .arg(session->dataFile);
    if (!session || !reason.isEmpty()) {
        showFailure(QCoreApplication::translate("MainWindow", "Could not open session %1: %2")
                        .arg(name, reason));
        return false;
    }
    currentSession = *session;
    // A session opened now replaces one still waiting for its data.
    pendingSession.reset();
    // The data set the session names, or why another one is needed.
    QString problem;
    if (session->dataFile.isEmpty()) {
        applySession(*session);
    } else if (!dataInfo.exists()) {
        problem = QCoreApplication::translate("MainWindow", "its data file %1 is missing")
                      .arg(session->dataFile);
    } else if (!loadFlowData(session->dataFile, session->options)) {
        problem = QCoreApplication::translate("MainWindow", "its data file %1 does not load")
                      .arg(dataInfo.fileName());
    } else if (!session->grid.isEmpty() &&
               session->grid != QSize(flowData->resolutionXValue(), flowData->resolutionYValue())) {
        problem = QCoreApplication::translate("MainWindow",
                                              "it was saved with a %1 × %2 grid, %3 has %4 × %5")
                      .arg(session->grid.width())
                      .arg(session->grid.height())
                      .arg(dataInfo.fileName())
                      .arg(flowData->resolutionXValue())
                      .arg(flowData->resolutionYValue());
    } else {
        dataPath = session->dataFile;
        applySession(*session);
    }
    if (problem.isEmpty()) {
        QString message = QCoreApplication::translate("MainWindow", "Session %1 opened").arg(name);
        if (!session->adjustments().isEmpty())
            message += QStringLiteral("; ") + session->adjustments().join(QStringLiteral("; "));
        statusBar()->showMessage(message);
        return true;
    }
    // The rest of the session waits for the file the user picks.
    pendingSession = *session;
    const QString message =
        QCoreApplication::translate("MainWindow",
                                    "Session %1: %2; its settings apply to the file loaded next")
            .arg(name, problem);
    statusBar()->showMessage(message);
    QTimer::singleShot(0, this, [this, message] {
        loadFlowData();
        if (pendingSession)
            statusBar()->showMessage(message);
    });
    return false;
}

void Main::applySession(const Session& session)
{
    if (!(session.frame == frame))
        setReferenceFrame(session.frame);
    const QString skipped = SessionBinding::apply(session, *ui->viewPort);
    if (!skipped.isEmpty())
        showFailure(skipped);
    {
        // The menu shows what the view shows; the view has it already.
        const QSignalBlocker flip(ui->actionFlip_Vertically);
        const QSignalBlocker legend(ui->actionShow_Legend);
        const QSignalBlocker axes(ui->actionShow_Axes);
        const QSignalBlocker arrow(ui->actionShow_Reference_Arrow);
        const QSignalBlocker bar(ui->actionShow_Scale_Bar);
        ui->actionFlip_Vertically->setChecked(ui->viewPort->isFlippedVertically());
        ui->actionShow_Legend->setChecked(ui->viewPort->isLegendShown());
        ui->actionShow_Axes->setChecked(ui->viewPort->areAxesShown());
        ui->actionShow_Reference_Arrow->setChecked(ui->viewPort->isReferenceArrowShown());
        ui->actionShow_Scale_Bar->setChecked(ui->viewPort->isScaleBarShown());
    }
    const FlowSeries* series = seriesBar->series();
    for (int index = 0; series && index < series->stepCount(); ++index) {
        if (series->stepNumber(index) == session.step && index != seriesBar->player()->shownStep())
            seriesBar->player()->seek(index);
    }
    // The line and the point in the file's coordinates, placed on this grid.
    if (const FlowData* grid = shownFlowData()) {
        QList<QPointF> line;
        for (const QPointF& vertex : session.profileLine)
            line.append(FlowProbe::unitPosition(*grid, vertex.x(), vertex.y()));
        ui->viewPort->setProfileLine(line);
        if (session.pinnedPoint)
            ui->viewPort->pinPoint(
                FlowProbe::unitPosition(*grid, session.pinnedPoint->x(), session.pinnedPoint->y()));
        else
            ui->viewPort->clearPinnedPoint();
    }
}
