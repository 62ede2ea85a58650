#include "transfer/ColorMap.h"

#include <QColor>
#include <QDebug>
#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int entries = 256;
// Largest channel error allowed between the chosen points, in 0..1; the rest
// of the 2/255 goes to the 8-bit colours and the gradient's own sampling.
constexpr double fitTolerance = 0.75 / 255.0;

struct Rgb
{
    double r;
    double g;
    double b;
};

std::vector<Rgb> loadTable(const QString& name)
{
    if (name == QLatin1String("gray")) {
        std::vector<Rgb> gray(entries);
        for (int k = 0; k < entries; ++k)
            gray[size_t(k)] = {k / 255.0, k / 255.0, k / 255.0};
        return gray;
    }
    if (name == QLatin1String("white"))
        return std::vector<Rgb>(entries, Rgb{1.0, 1.0, 1.0});
    if (!ColorMap::names().contains(name))
        return {};
    QFile file(QStringLiteral(":/colormaps/") + name + QStringLiteral(".txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "ColorMap/table: !!!missing table!!!" << name;
        return {};
    }
    std::vector<Rgb> table;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() != 3)
            break;
        table.push_back({fields[0].toDouble(), fields[1].toDouble(), fields[2].toDouble()});
    }
    if (table.size() != size_t(entries)) {
        qDebug() << "ColorMap/table: !!!table does not have 256 entries!!!" << name;
        return {};
    }
    return table;
}

double channelError(const Rgb& a, const Rgb& b)
{
    return std::max({std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
}

// Marks the entries between `first` and `last` that linear interpolation
// between the kept ones needs to stay within the tolerance. Both tables are
// linear between entries, so checking the entries checks everything.
void keepNeeded(const std::vector<Rgb>& table, int first, int last, std::vector<bool>& keep)
{
    double worst = 0.0;
    int worstAt = -1;
    for (int k = first + 1; k < last; ++k) {
        const double t = double(k - first) / double(last - first);
        const Rgb& a = table[size_t(first)];
        const Rgb& b = table[size_t(last)];
        const Rgb line{a.r + t * (b.r - a.r), a.g + t * (b.g - a.g), a.b + t * (b.b - a.b)};
        const double error = channelError(line, table[size_t(k)]);
        if (error > worst) {
            worst = error;
            worstAt = k;
        }
    }
    if (worst <= fitTolerance)
        return;
    keep[size_t(worstAt)] = true;
    keepNeeded(table, first, worstAt, keep);
    keepNeeded(table, worstAt, last, keep);
}

Rgb colorAt(const std::vector<Rgb>& table, double x)
{
    const double position = std::clamp(x, 0.0, 1.0) * (entries - 1);
    const int k = std::min(int(position), entries - 2);
    const double t = position - k;
    const Rgb& a = table[size_t(k)];
    const Rgb& b = table[size_t(k + 1)];
    return {a.r + t * (b.r - a.r), a.g + t * (b.g - a.g), a.b + t * (b.b - a.b)};
}

// The transparency (editor y) of `function` at value x, linear between its points.
double transparencyAt(const TransferFunction& function, double x)
{
    const QPolygonF& points = function.points();
    if (points.isEmpty())
        return 0.0;
    if (x <= points.first().x())
        return points.first().y();
    for (int i = 1; i < points.size(); ++i) {
        const QPointF& a = points.at(i - 1);
        const QPointF& b = points.at(i);
        if (x <= b.x())
            return b.x() > a.x() ? a.y() + (x - a.x()) / (b.x() - a.x()) * (b.y() - a.y()) : b.y();
    }
    return points.last().y();
}

} // namespace

QStringList ColorMap::names()
{
    return {QStringLiteral("viridis"), QStringLiteral("cividis"),  QStringLiteral("magma"),
            QStringLiteral("inferno"), QStringLiteral("coolwarm"), QStringLiteral("gray"),
            QStringLiteral("white")};
}

QList<QRgb> ColorMap::table(const QString& name)
{
    QList<QRgb> colors;
    for (const Rgb& c : loadTable(name))
        colors.append(QColor::fromRgbF(float(c.r), float(c.g), float(c.b)).rgba());
    return colors;
}

TransferFunction ColorMap::transferFunction(const QString& name, const TransferFunction& current,
                                            bool opaque)
{
    if (name == QLatin1String("white"))
        return TransferFunction();
    const std::vector<Rgb> table = loadTable(name);
    if (table.empty())
        return current;

    std::vector<bool> keep(entries, false);
    keep.front() = keep.back() = true;
    keepNeeded(table, 0, entries - 1, keep);
    std::vector<double> positions;
    for (int k = 0; k < entries; ++k) {
        if (keep[size_t(k)])
            positions.push_back(k / double(entries - 1));
    }
    if (!opaque) {
        // The opacity profile's own points keep its shape exactly.
        for (const QPointF& point : current.points())
            positions.push_back(std::clamp(point.x(), 0.0, 1.0));
        std::sort(positions.begin(), positions.end());
        positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    }

    QPolygonF points;
    QList<QColor> colors;
    for (double x : positions) {
        const Rgb c = colorAt(table, x);
        points << QPointF(x, opaque ? 0.0 : transparencyAt(current, x));
        colors << QColor::fromRgbF(float(c.r), float(c.g), float(c.b));
    }
    TransferFunction function(points, colors);
    function.setColorMap(name);
    return function;
}
