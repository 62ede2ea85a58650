// velmora-trace FILE: the evenly-spaced streamlines of a data set as CSV.
//
// Traces the lines as the streamline layer does, with the layer form's start
// values unless told otherwise, and writes one row per point, lines in
// tracing order, points from the upstream end to the downstream end:
//   line,x,y,magnitude,texture,taper
// x runs from 0 to 1 across the data set and y from 0 to 1 / aspect, both in
// widths of the domain; numbers are written with the fewest digits that read
// back exactly. With --seeds the lines through the listed points come first.
// A one-line summary goes to standard error. Exit status 0 on
// success, 1 when the data set does not load, nothing can be traced or the
// output cannot be written, 2 on a wrong command line.

#include "data/FlowData.h"
#include "data/ReferenceFrame.h"
#include "formats/SeedListReader.h"
#include "streamlines/StreamlineTracer.h"
#include "tools/LoadOptionArguments.h"
#include "tools/ToolMain.h"

#include <QElapsedTimer>
#include <QSaveFile>

#include <charconv>
#include <cstdio>
#include <memory>
#include <string>

namespace {

struct Range
{
    const char* option;
    double low;
    double high;
};

// The ranges of the streamline layer's controls.
constexpr Range dSepRange{"dsep", 0.001, 1.0};
constexpr Range dTestRange{"dtest", 0.01, 1.0};
constexpr Range stepRange{"step", 0.0001, 1.0};
constexpr Range textureRange{"texture-length", 10.0, 200.0};

bool readNumber(const QCommandLineParser& parser, const Range& range, double* value,
                QString* problem)
{
    const QString text = parser.value(QLatin1String(range.option));
    bool ok = false;
    const double number = text.toDouble(&ok);
    if (!ok) {
        *problem = QString("--%1: \"%2\" is not a number").arg(range.option, text);
        return false;
    }
    if (!(number >= range.low && number <= range.high)) {
        *problem = QString("--%1: %2 lies outside %3 to %4")
                       .arg(range.option, text)
                       .arg(range.low)
                       .arg(range.high);
        return false;
    }
    *value = number;
    return true;
}

void appendNumber(std::string& row, double value)
{
    char buffer[32];
    const std::to_chars_result end = std::to_chars(buffer, buffer + sizeof buffer, value);
    row.append(buffer, end.ptr);
}

void appendNumber(std::string& row, float value)
{
    char buffer[32];
    const std::to_chars_result end = std::to_chars(buffer, buffer + sizeof buffer, value);
    row.append(buffer, end.ptr);
}

// Rows go out in blocks; a file is replaced only once it is complete.
class CsvSink
{
public:
    explicit CsvSink(const QString& fileName)
        : file(fileName.isEmpty() ? nullptr : new QSaveFile(fileName))
    {
    }

    bool open(QString* problem)
    {
        if (file && !file->open(QIODevice::WriteOnly)) {
            *problem = file->fileName() + ": " + file->errorString();
            return false;
        }
        return true;
    }

    bool write(std::string& block)
    {
        bool ok = true;
        if (file)
            ok = file->write(block.data(), qint64(block.size())) == qint64(block.size());
        else
            ok = std::fwrite(block.data(), 1, block.size(), stdout) == block.size();
        block.clear();
        return ok;
    }

    bool finish(QString* problem)
    {
        if (file) {
            if (!file->commit()) {
                *problem = file->fileName() + ": " + file->errorString();
                return false;
            }
        } else if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            *problem = "cannot write to standard output";
            return false;
        }
        return true;
    }

private:
    std::unique_ptr<QSaveFile> file;
};

bool writeCsv(const std::vector<Streamline>& lines, CsvSink& sink)
{
    std::string block = "line,x,y,magnitude,texture,taper\n";
    bool ok = true;
    for (std::size_t l = 0; l < lines.size(); ++l) {
        for (const StreamlinePoint& p : lines[l]) {
            block += std::to_string(l);
            block += ',';
            appendNumber(block, p.x);
            block += ',';
            appendNumber(block, p.y);
            block += ',';
            appendNumber(block, p.magnitude);
            block += ',';
            appendNumber(block, p.texture);
            block += ',';
            appendNumber(block, p.taper);
            block += '\n';
            if (block.size() > (1u << 20))
                ok = sink.write(block) && ok;
        }
    }
    return sink.write(block) && ok;
}

} // namespace

int main(int argc, char** argv)
{
    ToolMain tool(argc, argv, "velmora-trace");
    QCommandLineParser& parser = tool.parser();
    parser.setApplicationDescription(
        "Traces the evenly-spaced streamlines of a flow data set and writes them as CSV\n"
        "(line,x,y,magnitude,texture,taper; x from 0 to 1, y from 0 to 1/aspect).");
    parser.addPositionalArgument(
        "FILE",
        "the data set: FILE.gri with FILE.dat, NetCDF, column text, Tecplot, VTK or MATLAB");
    parser.addOptions({
        {"dsep", "Separating distance in domain widths (0.001 to 1).", "D", "0.03"},
        {"dtest", "Test distance as a fraction of dsep (0.01 to 1).", "T", "0.5"},
        {"step", "Integration step in domain widths (0.0001 to 1).", "H", "0.003"},
        {"method", "Integration scheme: euler or midpoint.", "NAME", "euler"},
        {"texture-length", "Texture period in points (10 to 200).", "L", "30"},
        {{"o", "output"}, "Write the CSV to FILE instead of standard output.", "FILE"},
        {"seeds",
         "Trace a line through every point of FILE first (x,y per line in the file's "
         "coordinates, a header line allowed), then fill the rest evenly.",
         "FILE"},
        {"no-fill", "With --seeds: trace only the lines through the seeds."},
        {"subtract",
         "Trace in a frame moving with the field's mean velocity or with U,V (the file's "
         "components and units).",
         "mean|U,V"},
    });
    // --step is the integration step here; the time step is --time-step.
    LoadOptionArguments::add(parser, false);
    if (const std::optional<int> done = tool.parse())
        return *done;
    if (parser.positionalArguments().size() != 1)
        return tool.usageError("expected one data set", parser.helpText());

    StreamlineParameters params;
    QString problem;
    LoadOptions options;
    if (!LoadOptionArguments::read(parser, &options, &problem) ||
        !readNumber(parser, dSepRange, &params.dSep, &problem) ||
        !readNumber(parser, dTestRange, &params.dTest, &problem) ||
        !readNumber(parser, stepRange, &params.stepSize, &problem) ||
        !readNumber(parser, textureRange, &params.textureLength, &problem))
        return tool.usageError(problem, QString());
    ReferenceFrame frame;
    if (parser.isSet("subtract") &&
        !ReferenceFrame::parse(parser.value("subtract"), &frame, &problem))
        return tool.usageError("--subtract: " + problem, QString());
    QList<QPointF> fileSeeds;
    if (parser.isSet("seeds") && !SeedListReader::read(parser.value("seeds"), &fileSeeds, &problem))
        return tool.usageError("--seeds: " + problem, QString());
    if (parser.isSet("no-fill") && !parser.isSet("seeds"))
        return tool.usageError("--no-fill needs --seeds", QString());
    const QString method = parser.value("method");
    if (method == QLatin1String("euler")) {
        params.method = EulerMethod;
    } else if (method == QLatin1String("midpoint")) {
        params.method = RungeKuttaMethod;
    } else {
        return tool.usageError(
            QString("--method: \"%1\" is neither euler nor midpoint").arg(method), QString());
    }

    // The tracer's own diagnostics reach the user; the loader's and the
    // timers' chatter does not.
    tool.quietDebug("StreamlineTracer/", true);
    const QString fileName = parser.positionalArguments().first();
    QString reason;
    std::unique_ptr<FlowData> data(FlowData::fromFile(fileName, options, &reason));
    if (!data) {
        tool.report(FlowData::dataName(fileName) + ": " + reason);
        return 1;
    }
    if (!frame.atRest()) {
        std::unique_ptr<FlowData> framed = frame.apply(*data, &reason);
        if (!framed) {
            tool.report("--subtract: " + reason);
            return 1;
        }
        data = std::move(framed);
    }

    CsvSink sink(parser.value("output"));
    if (!sink.open(&problem)) {
        tool.report(problem);
        return 1;
    }

    StreamlineTracer tracer(params);
    if (!fileSeeds.isEmpty())
        tracer.setSeeds(StreamlineTracer::domainSeeds(*data, fileSeeds), !parser.isSet("no-fill"));
    QElapsedTimer clock;
    clock.start();
    const std::vector<Streamline> lines = tracer.placeStreamlines(*data);
    const double milliseconds = double(clock.nsecsElapsed()) / 1.0e6;
    if (lines.empty())
        return 1; // the tracer has said why

    std::size_t points = 0;
    for (const Streamline& line : lines)
        points += line.size();
    if (!writeCsv(lines, sink) || !sink.finish(&problem)) {
        tool.report(problem.isEmpty() ? QString("write failed") : problem);
        return 1;
    }
    const QString incomplete = tracer.incompleteReason();
    tool.report(QString("%1 lines, %2 points, %3 ms%4")
                    .arg(lines.size())
                    .arg(points)
                    .arg(milliseconds, 0, 'f', 3)
                    .arg(incomplete.isEmpty() ? QString() : " (" + incomplete + ")"));
    return 0;
}
