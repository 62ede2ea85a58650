#include "app/ExtractionDock.h"

#include "app/ExtractionPanel.h"
#include "app/PlotWidget.h"
#include "app/PointHistoryReader.h"
#include "data/DominantFrequency.h"
#include "data/FlowData.h"
#include "data/FlowProbe.h"
#include "data/FlowSeries.h"
#include "data/LineProfile.h"
#include "data/PointHistory.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>

#include <cmath>
#include <limits>

namespace {

QString number(double value)
{
    return std::isfinite(value) ? QString::number(value, 'g', 4) : QStringLiteral("—");
}

QString bracketed(const QString& unit)
{
    return unit.isEmpty() ? QString() : QStringLiteral(" [") + unit + QLatin1Char(']');
}

QDoubleSpinBox* quantityBox(QWidget* parent, const QString& prefix, const QString& tip)
{
    auto* box = new QDoubleSpinBox(parent);
    box->setRange(0.0, 1e12);
    box->setDecimals(4);
    box->setValue(1.0);
    box->setPrefix(prefix);
    box->setToolTip(tip);
    return box;
}

} // namespace

ExtractionDock::ExtractionDock(QWidget* parent)
    : QDockWidget(tr("Profile and Point Series"), parent), tabs(new QTabWidget(this)),
      profile(new ExtractionPanel(tabs)), point(new ExtractionPanel(tabs)),
      samplesBox(new QSpinBox), progress(new QProgressBar), cancelButton(new QToolButton),
      frequencyOf(new QComboBox), lengthBox(quantityBox(this, tr("L = "), tr("Length for St"))),
      velocityBox(quantityBox(this, tr("U = "), tr("Velocity for St"))),
      reader(new PointHistoryReader(this))
{
    setObjectName(QStringLiteral("extractionDock"));
    setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetClosable |
                QDockWidget::DockWidgetFloatable);
    tabs->addTab(profile, tr("Profile"));
    tabs->addTab(point, tr("Point series"));
    setWidget(tabs);

    auto* profileRow = new QWidget(profile);
    auto* profileLayout = new QHBoxLayout(profileRow);
    profileLayout->setContentsMargins(0, 0, 0, 0);
    samplesBox->setRange(2, 100000);
    samplesBox->setValue(defaultSamples);
    samplesBox->setPrefix(tr("Samples: "));
    profileLayout->addWidget(samplesBox);
    auto* clearLine = new QToolButton(profileRow);
    clearLine->setText(tr("Remove line"));
    profileLayout->addWidget(clearLine);
    profileLayout->addStretch(1);
    profile->addControls(profileRow);

    auto* pointRow = new QWidget(point);
    auto* pointLayout = new QHBoxLayout(pointRow);
    pointLayout->setContentsMargins(0, 0, 0, 0);
    progress->setFormat(tr("Reading steps %p%"));
    progress->hide();
    pointLayout->addWidget(progress);
    cancelButton->setText(tr("Cancel"));
    cancelButton->hide();
    pointLayout->addWidget(cancelButton);
    pointLayout->addWidget(new QLabel(tr("Frequency of"), pointRow));
    pointLayout->addWidget(frequencyOf);
    pointLayout->addWidget(lengthBox);
    pointLayout->addWidget(velocityBox);
    auto* unpin = new QToolButton(pointRow);
    unpin->setText(tr("Unpin"));
    pointLayout->addWidget(unpin);
    pointLayout->addStretch(1);
    point->addControls(pointRow);
    profile->setCaption(tr("Ctrl+drag in the view (or View → Profile Line) draws a line."));
    point->setCaption(tr("Ctrl+click in the view pins a point."));

    connect(samplesBox, &QSpinBox::valueChanged, this, [this](int n) { sampleProfile(n); });
    connect(clearLine, &QToolButton::clicked, this, &ExtractionDock::profileLineCleared);
    connect(unpin, &QToolButton::clicked, this, &ExtractionDock::pointCleared);
    connect(cancelButton, &QToolButton::clicked, this, &ExtractionDock::cancelReading);
    connect(reader, &PointHistoryReader::progressed, this, [this](int done, int total) {
        progress->setMaximum(std::max(total, 1));
        progress->setValue(done);
    });
    connect(reader, &PointHistoryReader::finished, this, &ExtractionDock::showHistory);
    connect(frequencyOf, &QComboBox::currentIndexChanged, this,
            &ExtractionDock::updatePointCaption);
    connect(lengthBox, &QDoubleSpinBox::valueChanged, this, &ExtractionDock::updatePointCaption);
    connect(velocityBox, &QDoubleSpinBox::valueChanged, this, &ExtractionDock::updatePointCaption);
}

ExtractionDock::~ExtractionDock()
{
    reader->cancel();
}

QPointF ExtractionDock::physical(const FlowData& data, const QPointF& unit)
{
    // The read-out's own mapping, taken at two corners of the grid.
    const FlowProbe::Reading low = FlowProbe::read(data, 0.0, 0.0);
    const FlowProbe::Reading high = FlowProbe::read(data, 1.0, 1.0);
    return QPointF(low.x + unit.x() * (high.x - low.x), low.y + unit.y() * (high.y - low.y));
}

void ExtractionDock::setFlowData(const FlowData* newData, const QList<const ScalarSet*>& derived,
                                 const QList<DerivedField::Kind>& kinds)
{
    flowData = newData;
    derivedSets = derived;
    derivedKinds = kinds;
    sampleProfile(samplesBox->value());
}

void ExtractionDock::setSeries(const FlowSeries* series)
{
    if (series == flowSeries)
        return;
    cancelReading();
    flowSeries = series;
    currentStep = series ? series->chosenIndex() : -1;
    if (hasPoint)
        startReading();
}

void ExtractionDock::setCurrentStep(int index)
{
    currentStep = index;
    point->setMarker(flowSeries && index >= 0 && index < flowSeries->stepCount()
                         ? flowSeries->stepTime(index)
                         : std::numeric_limits<double>::quiet_NaN());
}

bool ExtractionDock::isReadingPoint() const
{
    return reader->isRunning();
}

void ExtractionDock::setProfileLine(const QList<QPointF>& unitPoints, bool dragging)
{
    vertices.clear();
    if (flowData)
        for (const QPointF& unit : unitPoints)
            vertices.append(physical(*flowData, unit));
    if (!vertices.isEmpty() && !dragging) {
        show();
        tabs->setCurrentWidget(profile);
    }
    sampleProfile(dragging ? std::min(draggingSamples, samplesBox->value()) : samplesBox->value());
}

void ExtractionDock::sampleProfile(int samples)
{
    if (!flowData || vertices.size() < 2) {
        profile->clear();
        profile->setCaption(tr("Ctrl+drag in the view (or View → Profile Line) draws a line."));
        return;
    }
    const LineProfile line(*flowData, vertices, samples, derivedSets);
    if (!line.isValid()) {
        profile->clear();
        profile->setCaption(tr("The line has no length."));
        return;
    }
    const ExtractionTable& table = line.samples();
    QList<int> plotted;
    for (int c = LineProfile::U; c < table.columnCount(); ++c)
        plotted.append(c);
    profile->setTable(table, LineProfile::S, plotted,
                      {LineProfile::U, LineProfile::V, LineProfile::Speed, LineProfile::Tangential,
                       LineProfile::Normal});

    const QString lengthUnit = table.column(LineProfile::S).unit;
    QString text = tr("Length %1%2, %3 samples")
                       .arg(number(line.length()), bracketed(lengthUnit))
                       .arg(table.rowCount());
    if (line.outsideCount() > 0)
        text += tr(" (%1 outside the grid)").arg(line.outsideCount());
    text += tr(" · flux ∫u·n ds = %1%2").arg(number(line.flux()), bracketed(line.fluxUnit()));
    if (line.fluxGapLength() > 0.0)
        text += tr(" (over a gap of %1 left out)").arg(number(line.fluxGapLength()));
    QStringList means;
    for (int c : std::as_const(plotted))
        means.append(QStringLiteral("%1 %2%3").arg(table.column(c).name, number(line.mean(c)),
                                                   bracketed(table.column(c).unit)));
    text += QStringLiteral("\n") + tr("Means: %1").arg(means.join(QStringLiteral(", ")));
    profile->setCaption(text);
}

void ExtractionDock::setReferenceFrame(const ReferenceFrame& frame)
{
    if (frame == referenceFrame)
        return;
    referenceFrame = frame;
    if (hasPoint) {
        cancelReading();
        startReading();
    }
}

void ExtractionDock::pinPoint(bool pinned, const QPointF& unitPosition)
{
    cancelReading();
    hasPoint = pinned && flowData;
    if (!hasPoint) {
        point->clear();
        point->setCaption(tr("Ctrl+click in the view pins a point."));
        return;
    }
    pointPhysical = physical(*flowData, unitPosition);
    show();
    tabs->setCurrentWidget(point);
    startReading();
}

void ExtractionDock::startReading()
{
    point->clear();
    if (!flowSeries) {
        point->setCaption(tr("No series to read."));
        return;
    }
    reader->start(flowSeries, pointPhysical.x(), pointPhysical.y(), derivedKinds, referenceFrame);
    progress->setMaximum(flowSeries->stepCount());
    progress->setValue(0);
    progress->show();
    cancelButton->show();
    point->setCaption(tr("Reading (%1, %2) in %3 steps…")
                          .arg(number(pointPhysical.x()), number(pointPhysical.y()))
                          .arg(flowSeries->stepCount()));
}

void ExtractionDock::cancelReading()
{
    const bool wasReading = reader->isRunning();
    reader->cancel();
    progress->hide();
    cancelButton->hide();
    if (wasReading)
        point->setCaption(tr("Reading cancelled."));
}

void ExtractionDock::showHistory(const PointHistory& history)
{
    progress->hide();
    cancelButton->hide();
    const ExtractionTable& table = history.rows();
    QList<int> plotted;
    for (int c = PointHistory::U; c < table.columnCount(); ++c)
        plotted.append(c);
    point->setTable(table, PointHistory::Time, plotted,
                    {PointHistory::U, PointHistory::V, PointHistory::Speed});
    setCurrentStep(currentStep);
    historyTimeStep = history.timeStep();
    historyGaps = history.gapCount();
    historyOutside = history.isOutside();

    // The quantity whose frequency is shown keeps its name across points.
    const QString chosen = frequencyOf->currentText();
    {
        const QSignalBlocker blocker(frequencyOf);
        frequencyOf->clear();
        for (int c : std::as_const(plotted))
            frequencyOf->addItem(table.column(c).name, c);
        const int again = frequencyOf->findText(chosen);
        // v swings at the shedding frequency behind a body, u at twice it.
        frequencyOf->setCurrentIndex(again >= 0 ? again : (plotted.size() > 1 ? 1 : 0));
    }
    updatePointCaption();
    emit pointHistoryRead();
}

void ExtractionDock::updatePointCaption()
{
    const ExtractionTable& table = point->table();
    if (table.rowCount() == 0)
        return;
    const QString lengthUnit =
        table.columnCount() > PointHistory::X ? table.column(PointHistory::X).unit : QString();
    QString text =
        tr("Point (%1, %2)%3, %4")
            .arg(number(pointPhysical.x()), number(pointPhysical.y()), bracketed(lengthUnit),
                 table.rowCount() == 1 ? tr("one step") : tr("%1 steps").arg(table.rowCount()));
    if (historyGaps > 0)
        text += tr(" (%1 missing)").arg(historyGaps);
    if (historyOutside) {
        point->setCaption(text + tr(" · outside the grid"));
        return;
    }
    const int c = frequencyOf->currentData().toInt();
    if (frequencyOf->count() == 0 || c >= table.columnCount()) {
        point->setCaption(text);
        return;
    }
    // Without a time difference in the file the steps are the time base.
    const bool timed = historyTimeStep > 0.0;
    const DominantFrequency spectrum(table.values(c), timed ? historyTimeStep : 1.0);
    const QString timeUnit = table.column(PointHistory::Time).unit;
    const QString perTime =
        timed ? (timeUnit.isEmpty() ? tr("per unit of time") : QStringLiteral("1/") + timeUnit)
              : tr("per step");
    if (!spectrum.isValid()) {
        point->setCaption(text +
                          tr(" · too few values for a frequency of %1").arg(table.column(c).name));
        return;
    }
    const double strouhal =
        DominantFrequency::strouhal(spectrum.frequency(), lengthBox->value(), velocityBox->value());
    text += QStringLiteral("\n") +
            tr("Dominant frequency of %1: %2 %3 (resolution %4) · St = f L / U = %5")
                .arg(table.column(c).name, number(spectrum.frequency()), perTime,
                     number(spectrum.resolution()), number(strouhal));
    point->setCaption(text);
}
