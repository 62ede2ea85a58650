#pragma once

#include "app/Session.h"
#include "data/ReferenceFrame.h"
#include "formats/LoadOptions.h"

#include <QMainWindow>
#include <QPointF>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class DerivedFieldCache;
class ExtractionDock;
class FlowData;
class QDragEnterEvent;
class QDropEvent;
class QErrorMessage;
class TimeBar;
class ViewPort;

namespace Ui {
class MainWindow;
}

// The program's main window: the view port in the centre, the layer panels in
// the "Properties" dock, "Load Flow Data" and "Save Image" in the File menu.
// Owns the data set on show; a replaced one is deleted only after the view
// port and every layer have switched to its successor. Its derived fields live
// in a cache kept beside it (not inside: the data set never changes once
// handed out), deleted just before it and handed to the colour-coding layers
// after they have switched.
class Main : public QMainWindow
{
    Q_OBJECT

public:
    Main();
    ~Main() override;

    // Loads and installs the named data set and says what was loaded in the
    // status bar; on failure the current one stays and the status bar says why.
    bool loadFlowData(const QString& fileName);
    // The same, starting from `options` (chosen variables, level and step)
    // rather than the readers' rules; the steps of a series load with them.
    bool loadFlowData(const QString& fileName, const LoadOptions& options);
    // Opens a file named outside the File menu (on the command line, dropped
    // on the window) as if it had been chosen in the Load dialog, which then
    // starts beside it.
    bool openFlowData(const QString& fileName, const LoadOptions& options = LoadOptions());
    // A session file (suffix .velmora) opens as a session, anything else as
    // openFlowData does: the command line's and a drop's way in.
    bool openFile(const QString& fileName, const LoadOptions& options = LoadOptions());
    // Opens a session: its data set (with its load options and step), then
    // every layer's settings and the view. A refused session changes
    // nothing and the status bar says why. When its data file is missing,
    // does not load or lies on another grid, the status bar says so, the
    // Load dialog opens and the session is applied to the file loaded next.
    bool openSession(const QString& fileName);
    // Writes the session of what is on show; ".velmora" is added to a name
    // without a suffix. The status bar says where, or why not.
    bool saveSession(const QString& fileName);
    // A session waits for the next data set to load.
    bool isSessionPending() const { return pendingSession.has_value(); }
    // Writes the composed picture: PNG for a name ending in ".png", JPEG
    // otherwise; a name without a suffix gets ".jpg". Reports a failure in
    // the error-message dialog.
    bool saveImage(const QString& fileName);

    // Asks for the file to load or to save to (caption, start path, filter,
    // whether it is saved); returns an empty name when cancelled. The File
    // menu's modal file dialogs by default; tests answer through it.
    using FileNameAsker = std::function<QString(const QString& caption, const QString& startPath,
                                                const QString& filter, bool save)>;
    void setFileNameAsker(FileNameAsker asker);

    ViewPort* viewPort() const;
    TimeBar* timeBar() const { return seriesBar; }
    // The data set as the file holds it (derived fields come from it).
    ExtractionDock* extractionDock() const { return extraction; }
    FlowData* currentFlowData() const { return flowData; }
    // What the layers show: the data set seen from the reference frame.
    FlowData* shownFlowData() const { return framedData ? framedData.get() : flowData; }

    // Shows every later data set and step too from `frame` (View →
    // Reference Frame…); the status bar says which velocity is taken away.
    void setReferenceFrame(const ReferenceFrame& frame);
    const ReferenceFrame& referenceFrame() const { return frame; }

signals:
    // Emitted with a newly loaded data set, before the previous one is deleted.
    void flowDataLoaded(FlowData* data);
    // Emitted with the next step of the series on show, before the previous
    // one is deleted.
    void flowDataStepped(FlowData* data);

public slots:
    void loadFlowData();
    void saveImage();
    void openSession();
    void saveSession();
    // Shows the values of the data set at a unit-square position (or "—"
    // outside it) in the status bar.
    void showValuesAt(bool inside, const QPointF& unitPosition);
    // Hands a Shift+click's seed or a Shift+drag's rake to the visible
    // streamline layers, in the file's coordinates.
    void addStreamlineSeeds(const QPointF& unitFrom, const QPointF& unitTo);

protected:
    // A local file dragged onto the window opens when dropped.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The time bar under the view and its connections.
    void setupTimeBar();
    // The profile and point-series dock and its connections.
    void setupExtraction();
    // Hands the data set on show and its derived sets computed so far to the dock.
    void showExtractionData();
    // The time bar's step receiver: takes over the next step of the series
    // as the data set on show.
    void showStep(std::unique_ptr<FlowData> data);
    // Sets the session's layers, view and step on the data set just loaded.
    void applySession(const Session& session);
    // The step number of the series on show (0 without a data set).
    int currentStepNumber() const;
    void showFailure(const QString& message);
    // Deletes the cache and data set on show, takes `data` and its view from
    // the reference frame over (the layers have switched to them) and hands
    // the new cache out.
    void replaceFlowData(FlowData* data, std::unique_ptr<FlowData> framed);
    // `data` seen from the reference frame; null at rest (or, said in the
    // status bar, when the memory is not there).
    std::unique_ptr<FlowData> inReferenceFrame(const FlowData& fileData);
    void askReferenceFrame();

    Ui::MainWindow* ui;
    TimeBar* seriesBar = nullptr;
    ExtractionDock* extraction = nullptr;
    QErrorMessage* errorMessage;
    FileNameAsker askFileName;
    QString dataPath;
    QString imagePath;
    QString sessionPath;
    // What the data set on show was loaded from and with.
    QString loadedFile;
    LoadOptions loadedOptions;
    // The last session opened or saved: its keys this program does not know
    // are written again.
    Session currentSession;
    std::optional<Session> pendingSession;
    FlowData* flowData = nullptr;
    std::unique_ptr<DerivedFieldCache> derivedCache;
    ReferenceFrame frame;
    std::unique_ptr<FlowData> framedData;
    // What the status bar says about the loaded data set between read-outs.
    QString loadedMessage;
    static constexpr int failureMessageMs = 8000;
    // Characters of a refusal's reason the status bar shows.
    static constexpr int briefReasonLength = 90;
};
