#include "data/FlowSeries.h"

#include "data/FlowData.h"
#include "formats/FlowFileReader.h"
#include "formats/NativePairFormat.h"
#include "formats/ParaViewCollection.h"
#include "formats/VtkLegacyReader.h"
#include "formats/VtkXmlReader.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRegularExpression>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>

namespace {

QString numbered(const QString& base, int number, const char* extension)
{
    return NativePairFormat::stepName(base, number) + QLatin1String(extension);
}

bool isNativeName(const QString& fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    return suffix == QLatin1String("gri") || suffix == QLatin1String("dat") ||
           QFileInfo::exists(
               NativePairFormat::geometryFileName(NativePairFormat::dataName(fileName)));
}

} // namespace

FlowSeries* FlowSeries::open(const QString& fileName, const LoadOptions& options,
                             QString* errorMessage, const FlowData* chosenData)
{
    std::unique_ptr<FlowSeries> series(new FlowSeries);
    series->options = options;
    series->options.step = 0;
    const bool native = isNativeName(fileName);
    const bool found =
        native ? series->findNumberedSteps(fileName)
               : series->findCollectionSteps(fileName) || series->findNumberedFiles(fileName);
    if (!found) {
        Step only;
        only.dataFile = fileName;
        series->steps.push_back(only);
    }

    // The reference: the lowest step that loads.
    QString reason;
    for (int k = 0; k < series->stepCount(); ++k) {
        if (series->steps[size_t(k)].state == StepMissing)
            continue;
        std::unique_ptr<FlowData> loaded;
        if (!chosenData || k != series->chosen) {
            loaded.reset(series->loadStep(k, &reason));
            if (!loaded)
                continue;
        }
        const FlowData* first = loaded ? loaded.get() : chosenData;
        series->takeReference(*first);
        series->setState(k, StepPresent, QString());
        // A file that holds its steps inside tells their count.
        if (!native && series->stepCount() == 1 && first->timeStepsValue() > 1) {
            const Step file = series->steps[0];
            series->steps.assign(size_t(first->timeStepsValue()), file);
            for (int s = 0; s < series->stepCount(); ++s) {
                series->steps[size_t(s)].number = s;
                series->steps[size_t(s)].fileStep = s;
                series->steps[size_t(s)].state = s == 0 ? StepPresent : StepUnread;
            }
        }
        if (first->stepTimes().size() == size_t(series->stepCount())) {
            series->times = first->stepTimes();
            series->timeUnits = first->stepTimeUnits();
        }
        qDebug().noquote() << QStringLiteral("FlowSeries/open: %1 steps, time difference %2")
                                  .arg(series->stepCount())
                                  .arg(double(series->difference));
        return series.release();
    }
    if (reason.isEmpty())
        reason = QStringLiteral("no step of the series found");
    qDebug().noquote() << QStringLiteral("FlowSeries/open: ") + reason;
    if (errorMessage)
        *errorMessage = reason;
    return nullptr;
}

bool FlowSeries::findNumberedSteps(const QString& fileName)
{
    const QString name = NativePairFormat::dataName(fileName);
    const QFileInfo nameInfo(name);
    QString base = nameInfo.fileName();
    int chosenNumber = 0;
    const bool chosenNumbered = NativePairFormat::splitStepName(base, &base, &chosenNumber);
    if (!chosenNumbered && QFileInfo::exists(NativePairFormat::dataFileNames(name).front())) {
        // NAME.dat is what the loader reads for NAME: a data set of its own.
        return false;
    }

    const QDir directory = nameInfo.absoluteDir();
    const QRegularExpression stepName(
        QStringLiteral("^") + QRegularExpression::escape(base) +
        QStringLiteral("\\.(\\d{%1})\\.dat$").arg(NativePairFormat::stepDigits));
    std::map<int, QString> found;
    const QStringList candidates =
        directory.entryList({base + QStringLiteral(".*.dat")}, QDir::Files | QDir::Readable);
    for (const QString& candidate : candidates) {
        const QRegularExpressionMatch match = stepName.match(candidate);
        if (match.hasMatch())
            found[match.captured(1).toInt()] = candidate;
    }
    if (found.empty() || (chosenNumbered && !found.count(chosenNumber)))
        return false;

    const QString prefix = directory.filePath(base);
    const QString shared = NativePairFormat::geometryFileName(prefix);
    const int first = found.begin()->first;
    const int last = found.rbegin()->first;
    steps.clear();
    steps.reserve(size_t(last - first + 1));
    for (int number = first; number <= last; ++number) {
        Step step;
        step.number = number;
        step.dataFile = numbered(prefix, number, ".dat");
        const QString own = numbered(prefix, number, ".gri");
        step.geometryFile = QFileInfo::exists(own) ? own : shared;
        if (!found.count(number)) {
            step.state = StepMissing;
            step.reason = QStringLiteral("no data file");
        } else if (!QFileInfo::exists(step.geometryFile)) {
            step.state = StepMissing;
            step.reason = QStringLiteral("no geometry file");
        }
        steps.push_back(step);
    }
    chosen = chosenNumber - first;
    if (!chosenNumbered)
        chosen = 0;
    return true;
}

bool FlowSeries::findNumberedFiles(const QString& fileName)
{
    const QFileInfo info(fileName);
    const QString suffix = info.suffix();
    if (!VtkLegacyReader::instance().suffixes().contains(suffix.toLower()) &&
        !VtkXmlReader::instance().suffixes().contains(suffix.toLower()))
        return false;
    static const QRegularExpression numberedName(QStringLiteral("^(.*?)(\\d+)\\.([^.]+)$"));
    const QRegularExpressionMatch chosenMatch = numberedName.match(info.fileName());
    if (!chosenMatch.hasMatch())
        return false;
    const QString stem = chosenMatch.captured(1);
    const QRegularExpression sibling(QStringLiteral("^") + QRegularExpression::escape(stem) +
                                     QStringLiteral("(\\d+)\\.") +
                                     QRegularExpression::escape(suffix) + QStringLiteral("$"));
    const QDir directory = info.absoluteDir();
    // Numbers past int are no step numbers; such a name stays a file of its own.
    std::map<qlonglong, QString> found;
    for (const QString& candidate : directory.entryList(QDir::Files | QDir::Readable)) {
        const QRegularExpressionMatch match = sibling.match(candidate);
        bool ok = false;
        const qlonglong number = match.hasMatch() ? match.captured(1).toLongLong(&ok) : -1;
        if (ok && number <= INT_MAX && !found.count(number))
            found[number] = candidate;
    }
    const qlonglong chosenNumber = chosenMatch.captured(2).toLongLong();
    if (found.size() < 2 || !found.count(chosenNumber))
        return false;
    steps.clear();
    for (const auto& [number, name] : found) {
        if (number == chosenNumber)
            chosen = int(steps.size());
        Step step;
        step.number = int(number);
        // Of two names for one number (f_1, f_01) the chosen one is that step.
        step.dataFile = directory.filePath(number == chosenNumber ? info.fileName() : name);
        steps.push_back(step);
    }
    return true;
}

bool FlowSeries::findCollectionSteps(const QString& fileName)
{
    if (&FlowFileReader::formatOf(fileName) != &ParaViewCollection::instance())
        return false;
    std::vector<ParaViewCollection::Entry> entries;
    QString reason;
    if (!ParaViewCollection::entries(fileName, &entries, &reason))
        return false;
    steps.clear();
    for (const ParaViewCollection::Entry& entry : entries) {
        Step step;
        step.number = int(steps.size());
        step.dataFile = entry.fileName;
        if (!QFileInfo(entry.fileName).isFile()) {
            step.state = StepMissing;
            step.reason = QStringLiteral("no file %1").arg(QFileInfo(entry.fileName).fileName());
        }
        steps.push_back(step);
        times.push_back(entry.time);
    }
    chosen = 0;
    return true;
}

void FlowSeries::takeReference(const FlowData& data)
{
    difference = data.timeDifferenceValue();
    resolutionX = data.resolutionXValue();
    resolutionY = data.resolutionYValue();
    scalarSets = data.scalarSetCount();
    geometryMin = data.geometryMinimum();
    geometryMax = data.geometryMaximum();
    const SharedArray<Vector3>& positions = data.geometryArray();
    geometry.assign(positions.get(), positions.get() + positions.size());
}

QString FlowSeries::gridDifference(const FlowData& data) const
{
    if (data.resolutionXValue() != resolutionX || data.resolutionYValue() != resolutionY)
        return QStringLiteral("grid of %1 x %2 points, the series has %3 x %4")
            .arg(data.resolutionXValue())
            .arg(data.resolutionYValue())
            .arg(resolutionX)
            .arg(resolutionY);
    if (data.scalarSetCount() != scalarSets)
        return QStringLiteral("%1 scalar sets, the series has %2")
            .arg(data.scalarSetCount() - 1)
            .arg(scalarSets - 1);
    const SharedArray<Vector3>& positions = data.geometryArray();
    const Vector3 low = data.geometryMinimum();
    const Vector3 high = data.geometryMaximum();
    if (std::memcmp(&low, &geometryMin, sizeof low) != 0 ||
        std::memcmp(&high, &geometryMax, sizeof high) != 0 ||
        size_t(positions.size()) != geometry.size() ||
        std::memcmp(positions.get(), geometry.data(), geometry.size() * sizeof(Vector3)) != 0)
        return QStringLiteral("grid positions differ from the series'");
    return QString();
}

FlowData* FlowSeries::loadStep(int index, QString* errorMessage) const
{
    auto refuse = [&](StepState state, const QString& reason) -> FlowData* {
        const QString message = QStringLiteral("step %1: %2").arg(stepNumber(index)).arg(reason);
        qDebug().noquote() << QStringLiteral("FlowSeries/loadStep: ") + message;
        if (errorMessage)
            *errorMessage = message;
        if (index >= 0 && index < stepCount())
            setState(index, state, reason);
        return nullptr;
    };
    if (index < 0 || index >= stepCount())
        return refuse(StepMissing, QStringLiteral("no such step"));
    Step step;
    {
        QMutexLocker locker(&mutex);
        step = steps[size_t(index)];
    }
    if (step.state == StepMissing || step.state == StepRefused)
        return refuse(step.state, step.reason);

    QString reason;
    std::unique_ptr<FlowData> data;
    if (step.geometryFile.isEmpty()) {
        LoadOptions stepOptions = options;
        stepOptions.step = step.fileStep;
        data.reset(FlowData::fromFile(step.dataFile, stepOptions, &reason));
    } else {
        data.reset(FlowData::fromFiles(step.geometryFile, step.dataFile, &reason));
    }
    if (!data)
        return refuse(StepRefused, reason);
    // The reference is taken from the first step that loads, before any check.
    if (!geometry.empty()) {
        const QString newDifference = gridDifference(*data);
        if (!newDifference.isEmpty())
            return refuse(StepRefused, newDifference);
    }
    setState(index, StepPresent, QString());
    return data.release();
}

void FlowSeries::setState(int index, StepState state, const QString& reason) const
{
    QMutexLocker locker(&mutex);
    Step& step = steps[size_t(index)];
    step.state = state;
    step.reason = reason;
}

int FlowSeries::stepNumber(int index) const
{
    return index >= 0 && index < stepCount() ? steps[size_t(index)].number : index;
}

double FlowSeries::stepTime(int index) const
{
    if (index >= 0 && size_t(index) < times.size())
        return times[size_t(index)];
    return double(stepNumber(index)) * double(difference);
}

QString FlowSeries::stepTimeText(int index) const
{
    const bool dated = index >= 0 && size_t(index) < times.size() && timeUnits.hasReference();
    return dated ? stepTimeValueText(index) : QStringLiteral("t = ") + stepTimeValueText(index);
}

QString FlowSeries::stepTimeValueText(int index) const
{
    const bool own = index >= 0 && size_t(index) < times.size();
    return own ? timeUnits.text(stepTime(index)) : QString::number(stepTime(index), 'g', 6);
}

FlowSeries::StepState FlowSeries::stepState(int index) const
{
    QMutexLocker locker(&mutex);
    return index >= 0 && index < stepCount() ? steps[size_t(index)].state : StepMissing;
}

QString FlowSeries::stepReason(int index) const
{
    QMutexLocker locker(&mutex);
    return index >= 0 && index < stepCount() ? steps[size_t(index)].reason : QString();
}

bool FlowSeries::isPlayable(int index) const
{
    const StepState state = stepState(index);
    return state == StepUnread || state == StepPresent;
}

ValueRange FlowSeries::stepRange(const FlowData& data, int index)
{
    const QList<ScalarSet>& sets = data.scalarSets();
    if (index < 0 || index >= sets.size())
        return ValueRange();
    if (index == sets.size() - 1)
        return ValueRange{0.0, double(data.vectorMaximum())};
    return ValueRange{double(sets[index].minimum), double(sets[index].maximum)};
}

QList<ValueRange> FlowSeries::seriesRanges(const std::function<bool(int, int)>& progress) const
{
    QList<ValueRange> ranges;
    bool any = false;
    const int total = stepCount();
    for (int k = 0; k < total; ++k) {
        if (isPlayable(k)) {
            std::unique_ptr<FlowData> data(loadStep(k));
            if (data) {
                const int count = data->scalarSetCount();
                for (int s = 0; s < count; ++s) {
                    const ValueRange range = stepRange(*data, s);
                    if (!any) {
                        ranges.append(range);
                        continue;
                    }
                    ValueRange& all = ranges[s];
                    all.minimum = std::min(all.minimum, range.minimum);
                    all.maximum = std::max(all.maximum, range.maximum);
                }
                any = true;
            }
        }
        if (progress && !progress(k + 1, total))
            return {};
    }
    return ranges;
}
