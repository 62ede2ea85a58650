#pragma once

#include "data/ReferenceFrame.h"

#include "data/DerivedField.h"

#include <QDockWidget>
#include <QList>
#include <QPointF>

class ExtractionPanel;
class FlowSeries;
class PointHistory;
class PointHistoryReader;
class QComboBox;
class QDoubleSpinBox;
class QProgressBar;
class QSpinBox;
class QTabWidget;
class QToolButton;
class FlowData;
struct ScalarSet;

// The dock under the view for what is measured along a line and at a point:
// the profile along the view's profile line (LineProfile over the data set
// on show, again at every step of a series) and the history of the pinned
// point over the steps of the series (PointHistory, read in the background
// with progress and cancel), each as a plot with its caption and exports.
//
// Positions arrive in the unit square of the view and are kept in the file's
// physical coordinates, which the steps of a series share. While a line is
// dragged the profile is sampled coarsely, so that it follows the pointer.
class ExtractionDock : public QDockWidget
{
    Q_OBJECT

public:
    // Samples while the line's end is dragged.
    static constexpr int draggingSamples = 200;
    // Samples of a profile to start with (velmora-probe --samples takes the same).
    static constexpr int defaultSamples = 1000;

    explicit ExtractionDock(QWidget* parent = nullptr);
    ~ExtractionDock() override;

    // The data set on show (null: none) with the derived sets computed for
    // it and the kinds to read at the point (those computed so far);
    // resamples the profile.
    void setFlowData(const FlowData* data, const QList<const ScalarSet*>& derived,
                     const QList<DerivedField::Kind>& derivedKinds);
    // The series on show; null cancels a read of the old one, which must
    // happen before it is replaced or deleted.
    void setSeries(const FlowSeries* series);
    // The series index of the step on show, marked in the point's plot.
    void setCurrentStep(int index);
    // The frame the point's velocity is read in (the profile takes the data
    // set on show, already in it); a pinned point is read again.
    void setReferenceFrame(const ReferenceFrame& frame);

    ExtractionPanel* profilePanel() const { return profile; }
    ExtractionPanel* pointPanel() const { return point; }
    // The profile line's vertices in physical coordinates (empty: none).
    const QList<QPointF>& profileVertices() const { return vertices; }
    // The pinned point in physical coordinates, when there is one.
    QPointF pointPosition() const { return pointPhysical; }
    bool hasPinnedPoint() const { return hasPoint; }
    bool isReadingPoint() const;

public slots:
    // The view's profile line in its unit square (empty: removed).
    void setProfileLine(const QList<QPointF>& unitPoints, bool dragging);
    // The view's pinned point in its unit square.
    void pinPoint(bool pinned, const QPointF& unitPosition);
    void cancelReading();

signals:
    // Emitted when the user has asked to remove the profile line.
    void profileLineCleared();
    // Emitted when the user has asked to unpin the point.
    void pointCleared();
    // Emitted when the point's history has been read through.
    void pointHistoryRead();

private:
    void sampleProfile(int samples);
    void startReading();
    void showHistory(const PointHistory& history);
    void updatePointCaption();
    // Physical coordinates of a unit-square position of `data`, inside the
    // grid or not.
    static QPointF physical(const FlowData& data, const QPointF& unit);

    QTabWidget* tabs;
    ExtractionPanel* profile;
    ExtractionPanel* point;
    QSpinBox* samplesBox;
    QProgressBar* progress;
    QToolButton* cancelButton;
    QComboBox* frequencyOf;
    QDoubleSpinBox* lengthBox;
    QDoubleSpinBox* velocityBox;
    PointHistoryReader* reader;

    const FlowData* flowData = nullptr;
    QList<const ScalarSet*> derivedSets;
    QList<DerivedField::Kind> derivedKinds;
    const FlowSeries* flowSeries = nullptr;
    int currentStep = -1;
    QList<QPointF> vertices;
    bool hasPoint = false;
    ReferenceFrame referenceFrame;
    QPointF pointPhysical;
    double historyTimeStep = 0.0;
    int historyGaps = 0;
    bool historyOutside = false;
};
