#include "app/Session.h"

#include "app/ViewPort.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

namespace {

// The forms' ranges (see the layers' .ui files and the panel's slider).
constexpr double arrowLengthRange[] = {0, 100};
constexpr double arrowSizeRange[] = {20, 500};
constexpr double arrowQuantityRange[] = {3, 100};
constexpr double lineWidthRange[] = {0.01, 1.0};
constexpr double dSepRange[] = {0.001, 1.0};
constexpr double dTestRange[] = {0.01, 1.0};
constexpr double stepSizeRange[] = {0.0001, 1.0};
constexpr double glyphSizeRange[] = {0.01, 2.0};
constexpr double textureLengthRange[] = {10, 200};
// Pans beyond this leave the picture far off screen; nothing is lost.
constexpr double centerLimit = 1000.0;
// Counts a file could hold; beyond them a session means nothing real.
constexpr double countLimit = 1e7;

const QList<std::pair<QString, Layer::Kind>>& kindNames()
{
    static const QList<std::pair<QString, Layer::Kind>> names{
        {QStringLiteral("colorcoding"), Layer::Kind::ColorCoding},
        {QStringLiteral("streamlines"), Layer::Kind::Streamlines},
        {QStringLiteral("arrows"), Layer::Kind::Arrows}};
    return names;
}

QString kindName(Layer::Kind kind)
{
    for (const auto& [name, value] : kindNames())
        if (value == kind)
            return name;
    return QStringLiteral("other");
}

// Reads typed values out of JSON objects: a wrong type refuses the session
// (`problem` says where), a value outside its range is clamped and noted.
struct Reader
{
    QString problem;
    QStringList* notes;

    bool failed() const { return !problem.isEmpty(); }

    void refuse(const QString& where, const QString& why)
    {
        if (problem.isEmpty())
            problem = where + QStringLiteral(": ") + why;
    }

    void note(const QString& line)
    {
        if (notes->size() < Session::maximumAdjustments)
            notes->append(line);
    }

    QJsonObject object(const QJsonObject& from, const QString& key, const QString& where)
    {
        const QJsonValue value = from.value(key);
        if (!value.isUndefined() && !value.isObject())
            refuse(where + key, QStringLiteral("not an object"));
        return value.toObject();
    }

    void number(const QJsonObject& from, const QString& key, const QString& where, double low,
                double high, double& out)
    {
        const QJsonValue value = from.value(key);
        if (value.isUndefined())
            return;
        const double v = value.toDouble(std::nan(""));
        if (!value.isDouble() || !std::isfinite(v)) {
            refuse(where + key, QStringLiteral("not a number"));
            return;
        }
        out = std::clamp(v, low, high);
        if (out != v)
            note(QStringLiteral("%1%2 %3 set to %4").arg(where, key).arg(v).arg(out));
    }

    template <class T>
    void count(const QJsonObject& from, const QString& key, const QString& where, double low,
               double high, T& out)
    {
        double v = double(out);
        number(from, key, where, low, high, v);
        out = T(std::lround(v));
    }

    void boolean(const QJsonObject& from, const QString& key, const QString& where, bool& out)
    {
        const QJsonValue value = from.value(key);
        if (value.isUndefined())
            return;
        if (!value.isBool())
            refuse(where + key, QStringLiteral("not true or false"));
        out = value.toBool(out);
    }

    void string(const QJsonObject& from, const QString& key, const QString& where, QString& out)
    {
        const QJsonValue value = from.value(key);
        if (value.isUndefined())
            return;
        if (!value.isString())
            refuse(where + key, QStringLiteral("not a string"));
        out = value.toString(out);
    }

    // Positions as [x, y], finite, at most Session::maximumPoints of them.
    void positions(const QJsonObject& from, const QString& key, const QString& where,
                   QList<QPointF>& out)
    {
        const QJsonValue value = from.value(key);
        if (value.isUndefined())
            return;
        const QJsonArray array = value.toArray();
        if (!value.isArray() || array.size() > Session::maximumPoints) {
            refuse(where + key,
                   QStringLiteral("not a list of at most %1 [x, y]").arg(Session::maximumPoints));
            return;
        }
        for (qsizetype i = 0; i < array.size(); ++i) {
            const QJsonArray xy = array.at(i).toArray();
            if (xy.size() != 2 || !xy.at(0).isDouble() || !xy.at(1).isDouble() ||
                !std::isfinite(xy.at(0).toDouble()) || !std::isfinite(xy.at(1).toDouble())) {
                refuse(QStringLiteral("%1%2[%3]").arg(where, key).arg(i),
                       QStringLiteral("not [x, y]"));
                return;
            }
            out.append(QPointF(xy.at(0).toDouble(), xy.at(1).toDouble()));
        }
    }

    // Points as [x, y, "#aarrggbb"]; at least two, none with a NaN. The
    // ends lie on the editor's edges and the points are ordered by x, as
    // the editor keeps them.
    void transferFunction(const QJsonObject& from, const QString& where, TransferFunction& out)
    {
        const QJsonValue value = from.value(QStringLiteral("transferFunction"));
        if (value.isUndefined())
            return;
        const QString at = where + QStringLiteral("transferFunction");
        const QJsonObject function = value.toObject();
        const QJsonValue pointsValue = function.value(QStringLiteral("points"));
        if (!value.isObject() || !pointsValue.isArray()) {
            refuse(at, QStringLiteral("no points"));
            return;
        }
        const QJsonArray array = pointsValue.toArray();
        if (array.size() < 2 || array.size() > Session::maximumPoints) {
            refuse(at, QStringLiteral("%1 points; from 2 to %2 are possible")
                           .arg(array.size())
                           .arg(Session::maximumPoints));
            return;
        }
        QList<std::pair<QPointF, QColor>> points;
        for (const QJsonValue& entry : array) {
            const QJsonArray point = entry.toArray();
            const double x = point.at(0).toDouble(std::nan(""));
            const double y = point.at(1).toDouble(std::nan(""));
            const QColor color = QColor::fromString(point.at(2).toString());
            if (point.size() != 3 || !std::isfinite(x) || !std::isfinite(y) || !color.isValid()) {
                refuse(at, QStringLiteral("a point is not [x, y, \"#aarrggbb\"] with finite "
                                          "numbers"));
                return;
            }
            points.append({QPointF(std::clamp(x, 0.0, 1.0), std::clamp(y, 0.0, 1.0)), color});
        }
        std::stable_sort(points.begin(), points.end(),
                         [](const auto& a, const auto& b) { return a.first.x() < b.first.x(); });
        points.first().first.setX(0.0);
        points.last().first.setX(1.0);
        QPolygonF polygon;
        QList<QColor> colors;
        for (const auto& [point, color] : points) {
            polygon << point;
            colors << color;
        }
        out = TransferFunction(polygon, colors);
        QString map;
        string(function, QStringLiteral("colorMap"), at + QLatin1Char('.'), map);
        out.setColorMap(map);
    }

    SessionLayer layer(const QJsonObject& from, const QString& where)
    {
        SessionLayer layer;
        // The form's start values where the file names none.
        layer.streamlines.dSep = 0.03;
        layer.streamlines.stepSize = 0.003;
        QString kind;
        string(from, QStringLiteral("kind"), where, kind);
        for (const auto& [name, value] : kindNames())
            if (name == kind)
                layer.kind = value;
        boolean(from, QStringLiteral("visible"), where, layer.visible);
        double opacity = layer.opacity;
        number(from, QStringLiteral("opacity"), where, 0.0, 1.0, opacity);
        layer.opacity = float(opacity);
        transferFunction(from, where, layer.function);

        string(from, QStringLiteral("field"), where, layer.field);
        count(from, QStringLiteral("fieldIndex"), where, 0, countLimit, layer.fieldIndex);
        QString range = QStringLiteral("step");
        string(from, QStringLiteral("colorRange"), where, range);
        layer.wholeSeries = range == QLatin1String("series");
        boolean(from, QStringLiteral("lic"), where, layer.lic);
        LineIntegralConvolution::Parameters& lic = layer.licParameters;
        count(from, QStringLiteral("licKernelLength"), where,
              LineIntegralConvolution::minKernelLength, LineIntegralConvolution::maxKernelLength,
              lic.kernelLength);
        QString licText = QStringLiteral("hann");
        string(from, QStringLiteral("licKernel"), where, licText);
        lic.kernel = licText == QLatin1String("box") ? LineIntegralConvolution::Box
                                                     : LineIntegralConvolution::Hann;
        licText = QStringLiteral("stretch");
        string(from, QStringLiteral("licContrast"), where, licText);
        lic.contrast = licText == QLatin1String("secondPass") ? LineIntegralConvolution::SecondPass
                       : licText == QLatin1String("equalize") ? LineIntegralConvolution::Equalize
                                                              : LineIntegralConvolution::Stretch;
        licText = QStringLiteral("multiply");
        string(from, QStringLiteral("licCombine"), where, licText);
        layer.licCombine = licText == QLatin1String("blend") ? LineIntegralConvolution::Blend
                                                             : LineIntegralConvolution::Multiply;

        count(from, QStringLiteral("length"), where, arrowLengthRange[0], arrowLengthRange[1],
              layer.arrowLength);
        count(from, QStringLiteral("size"), where, arrowSizeRange[0], arrowSizeRange[1],
              layer.arrowSize);
        count(from, QStringLiteral("quantity"), where, arrowQuantityRange[0], arrowQuantityRange[1],
              layer.arrowQuantity);
        QString style = QStringLiteral("straight");
        string(from, QStringLiteral("style"), where, style);
        layer.curlyArrows = style == QLatin1String("curly");

        StreamlineParameters& p = layer.streamlines;
        QString method;
        string(from, QStringLiteral("method"), where, method);
        p.method = method == QLatin1String("rungeKutta") ? RungeKuttaMethod : EulerMethod;
        number(from, QStringLiteral("lineWidth"), where, lineWidthRange[0], lineWidthRange[1],
               p.lineWidth);
        number(from, QStringLiteral("dSep"), where, dSepRange[0], dSepRange[1], p.dSep);
        number(from, QStringLiteral("dTest"), where, dTestRange[0], dTestRange[1], p.dTest);
        number(from, QStringLiteral("stepSize"), where, stepSizeRange[0], stepSizeRange[1],
               p.stepSize);
        boolean(from, QStringLiteral("glyphs"), where, p.glyphs);
        number(from, QStringLiteral("glyphSize"), where, glyphSizeRange[0], glyphSizeRange[1],
               p.glyphSize);
        boolean(from, QStringLiteral("texture"), where, p.texture);
        number(from, QStringLiteral("textureLength"), where, textureLengthRange[0],
               textureLengthRange[1], p.textureLength);
        boolean(from, QStringLiteral("tapering"), where, p.tapering);
        boolean(from, QStringLiteral("autoUpdate"), where, layer.autoUpdate);
        positions(from, QStringLiteral("seeds"), where, layer.seeds);
        boolean(from, QStringLiteral("fillEvenly"), where, layer.fillEvenly);
        return layer;
    }
};

QJsonArray pointsOf(const TransferFunction& function)
{
    QJsonArray points;
    for (int i = 0; i < function.points().size(); ++i) {
        const QPointF& point = function.points().at(i);
        points.append(
            QJsonArray{point.x(), point.y(), function.colors().at(i).name(QColor::HexArgb)});
    }
    return points;
}

QJsonValue frameValue(const ReferenceFrame& frame)
{
    switch (frame.motion()) {
    case ReferenceFrame::Motion::Mean:
        return QStringLiteral("mean");
    case ReferenceFrame::Motion::Given:
        return QJsonArray{frame.u(), frame.v()};
    case ReferenceFrame::Motion::AtRest:
        break;
    }
    return QStringLiteral("rest");
}

// `overlay` over `base`: its keys replace, the others stay.
QJsonObject merged(QJsonObject base, const QJsonObject& overlay)
{
    for (auto it = overlay.begin(); it != overlay.end(); ++it)
        base.insert(it.key(), it.value());
    return base;
}

} // namespace

std::optional<Session> Session::read(const QString& fileName, QString* reason)
{
    const QFileInfo info(fileName);
    // A device or a pipe would be read without end.
    if (!info.isFile()) {
        *reason = info.exists() ? QStringLiteral("not a regular file") : QStringLiteral("no file");
        return std::nullopt;
    }
    if (info.size() > maximumFileSize) {
        *reason = QStringLiteral("%1 bytes; a session has at most %2")
                      .arg(info.size())
                      .arg(maximumFileSize);
        return std::nullopt;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = file.errorString();
        return std::nullopt;
    }
    return parse(file.read(maximumFileSize + 1), info.absoluteDir(), reason);
}

std::optional<Session> Session::parse(const QByteArray& json, const QDir& base, QString* reason)
{
    if (json.size() > maximumFileSize) {
        *reason = QStringLiteral("more than %1 bytes").arg(maximumFileSize);
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (!document.isObject()) {
        *reason = error.error != QJsonParseError::NoError
                      ? QStringLiteral("not JSON: %1 at byte %2")
                            .arg(error.errorString())
                            .arg(error.offset)
                      : QStringLiteral("not a JSON object");
        return std::nullopt;
    }
    Session session;
    session.original = document.object();
    const QJsonObject& top = session.original;
    const QJsonValue version = top.value(QStringLiteral("version"));
    if (!version.isDouble()) {
        *reason = QStringLiteral("no version number");
        return std::nullopt;
    }
    if (version.toDouble() > currentVersion) {
        *reason = QStringLiteral("written by a newer Velmora (session version %1; this one reads "
                                 "up to version %2)")
                      .arg(version.toDouble())
                      .arg(currentVersion);
        return std::nullopt;
    }

    Reader in{QString(), &session.notes};
    const QJsonObject data = in.object(top, QStringLiteral("data"), QString());
    const QString dataAt = QStringLiteral("data.");
    QString file;
    in.string(data, QStringLiteral("file"), dataAt, file);
    if (!file.isEmpty())
        session.dataFile = QDir::cleanPath(base.absoluteFilePath(file));
    in.string(data, QStringLiteral("u"), dataAt, session.options.uVariable);
    in.string(data, QStringLiteral("v"), dataAt, session.options.vVariable);
    in.count(data, QStringLiteral("level"), dataAt, 0, countLimit, session.options.level);
    in.count(data, QStringLiteral("timeStep"), dataAt, 0, countLimit, session.options.step);
    in.count(data, QStringLiteral("step"), dataAt, 0, countLimit, session.step);
    const QJsonValue grid = data.value(QStringLiteral("grid"));
    if (!grid.isUndefined()) {
        const QJsonArray sides = grid.toArray();
        if (sides.size() != 2 || !sides.at(0).isDouble() || !sides.at(1).isDouble())
            in.refuse(dataAt + QStringLiteral("grid"), QStringLiteral("not [columns, rows]"));
        else
            session.grid = QSize(int(std::clamp(sides.at(0).toDouble(), 0.0, countLimit)),
                                 int(std::clamp(sides.at(1).toDouble(), 0.0, countLimit)));
    }

    const QJsonObject view = in.object(top, QStringLiteral("view"), QString());
    const QString viewAt = QStringLiteral("view.");
    double zoom = session.zoom;
    // The view refuses a zoom at or below its lower limit; the next step up
    // is the smallest it shows.
    in.number(view, QStringLiteral("zoom"), viewAt, double(ViewPort::minimumScale) + 0.001,
              double(ViewPort::maximumScale), zoom);
    session.zoom = float(zoom);
    const QJsonValue center = view.value(QStringLiteral("center"));
    if (!center.isUndefined()) {
        const QJsonArray xy = center.toArray();
        if (xy.size() != 2 || !xy.at(0).isDouble() || !xy.at(1).isDouble())
            in.refuse(viewAt + QStringLiteral("center"), QStringLiteral("not [x, y]"));
        session.centerX = std::clamp(xy.at(0).toDouble(0.5), -centerLimit, centerLimit);
        session.centerY = std::clamp(xy.at(1).toDouble(0.5), -centerLimit, centerLimit);
    }
    const QJsonValue frame = view.value(QStringLiteral("referenceFrame"));
    if (frame.isArray()) {
        const QJsonArray uv = frame.toArray();
        if (uv.size() != 2 || !uv.at(0).isDouble() || !uv.at(1).isDouble())
            in.refuse(viewAt + QStringLiteral("referenceFrame"), QStringLiteral("not [u, v]"));
        session.frame = ReferenceFrame::withVelocity(uv.at(0).toDouble(), uv.at(1).toDouble());
    } else if (frame == QJsonValue(QStringLiteral("mean"))) {
        session.frame = ReferenceFrame::withMean();
    } else if (!frame.isUndefined() && frame != QJsonValue(QStringLiteral("rest"))) {
        in.refuse(viewAt + QStringLiteral("referenceFrame"),
                  QStringLiteral("not \"rest\", \"mean\" or [u, v]"));
    }
    in.boolean(view, QStringLiteral("flipVertically"), viewAt, session.flipped);
    in.boolean(view, QStringLiteral("legend"), viewAt, session.legend);
    in.boolean(view, QStringLiteral("axes"), viewAt, session.axes);
    in.boolean(view, QStringLiteral("referenceArrow"), viewAt, session.referenceArrow);
    in.boolean(view, QStringLiteral("scaleBar"), viewAt, session.scaleBar);

    // Positions in the file's coordinates: any finite number is one.
    auto position = [&](const QJsonValue& value, const QString& where) -> std::optional<QPointF> {
        const QJsonArray xy = value.toArray();
        if (xy.size() != 2 || !xy.at(0).isDouble() || !xy.at(1).isDouble() ||
            !std::isfinite(xy.at(0).toDouble()) || !std::isfinite(xy.at(1).toDouble())) {
            in.refuse(where, QStringLiteral("not [x, y]"));
            return std::nullopt;
        }
        return QPointF(xy.at(0).toDouble(), xy.at(1).toDouble());
    };
    const QJsonObject extraction = in.object(top, QStringLiteral("extraction"), QString());
    const QJsonValue line = extraction.value(QStringLiteral("profileLine"));
    if (!line.isUndefined()) {
        const QJsonArray vertices = line.toArray();
        if (!line.isArray() || vertices.size() == 1 || vertices.size() > maximumPoints)
            in.refuse(QStringLiteral("extraction.profileLine"),
                      QStringLiteral("not a list of 2 to %1 [x, y]").arg(maximumPoints));
        for (qsizetype i = 0; i < vertices.size() && !in.failed(); ++i)
            if (const auto vertex =
                    position(vertices.at(i), QStringLiteral("extraction.profileLine[%1]").arg(i)))
                session.profileLine.append(*vertex);
    }
    const QJsonValue point = extraction.value(QStringLiteral("point"));
    if (!point.isUndefined() && !point.isNull())
        session.pinnedPoint = position(point, QStringLiteral("extraction.point"));

    const QJsonValue layers = top.value(QStringLiteral("layers"));
    if (!layers.isUndefined() && !layers.isArray())
        in.refuse(QStringLiteral("layers"), QStringLiteral("not an array"));
    const QJsonArray list = layers.toArray();
    if (list.size() > maximumLayers)
        in.refuse(QStringLiteral("layers"),
                  QStringLiteral("%1 layers; at most %2").arg(list.size()).arg(maximumLayers));
    for (qsizetype i = 0; i < list.size() && !in.failed(); ++i) {
        const QString at = QStringLiteral("layers[%1].").arg(i);
        if (!list.at(i).isObject())
            in.refuse(at.chopped(1), QStringLiteral("not an object"));
        session.layers.append(in.layer(list.at(i).toObject(), at));
    }
    if (in.failed()) {
        *reason = in.problem;
        return std::nullopt;
    }
    return session;
}

QByteArray Session::toJson(const QDir& base) const
{
    QJsonObject top = original;
    top.insert(QStringLiteral("version"), currentVersion);

    QJsonObject data = top.value(QStringLiteral("data")).toObject();
    QString file;
    if (!dataFile.isEmpty()) {
        const QString relative = base.relativeFilePath(dataFile);
        file = relative.startsWith(QStringLiteral("../")) || QDir::isAbsolutePath(relative)
                   ? QDir::cleanPath(dataFile)
                   : relative;
    }
    top.insert(QStringLiteral("data"),
               merged(data, QJsonObject{{QStringLiteral("file"), file},
                                        {QStringLiteral("u"), options.uVariable},
                                        {QStringLiteral("v"), options.vVariable},
                                        {QStringLiteral("level"), options.level},
                                        {QStringLiteral("timeStep"), options.step},
                                        {QStringLiteral("step"), step},
                                        {QStringLiteral("grid"),
                                         QJsonArray{grid.width(), grid.height()}}}));
    top.insert(QStringLiteral("view"),
               merged(top.value(QStringLiteral("view")).toObject(),
                      QJsonObject{{QStringLiteral("zoom"), double(zoom)},
                                  {QStringLiteral("center"), QJsonArray{centerX, centerY}},
                                  {QStringLiteral("flipVertically"), flipped},
                                  {QStringLiteral("referenceFrame"), frameValue(frame)},
                                  {QStringLiteral("legend"), legend},
                                  {QStringLiteral("axes"), axes},
                                  {QStringLiteral("referenceArrow"), referenceArrow},
                                  {QStringLiteral("scaleBar"), scaleBar}}));

    QJsonArray vertices;
    for (const QPointF& vertex : profileLine)
        vertices.append(QJsonArray{vertex.x(), vertex.y()});
    top.insert(
        QStringLiteral("extraction"),
        merged(top.value(QStringLiteral("extraction")).toObject(),
               QJsonObject{{QStringLiteral("profileLine"), vertices},
                           {QStringLiteral("point"),
                            pinnedPoint ? QJsonValue(QJsonArray{pinnedPoint->x(), pinnedPoint->y()})
                                        : QJsonValue()}}));

    const QJsonArray oldLayers = top.value(QStringLiteral("layers")).toArray();
    QJsonArray newLayers;
    for (int i = 0; i < layers.size(); ++i) {
        const SessionLayer& layer = layers.at(i);
        QJsonObject known{{QStringLiteral("kind"), kindName(layer.kind)},
                          {QStringLiteral("visible"), layer.visible},
                          {QStringLiteral("opacity"), double(layer.opacity)}};
        QJsonObject function{{QStringLiteral("points"), pointsOf(layer.function)}};
        if (!layer.function.colorMap().isEmpty())
            function.insert(QStringLiteral("colorMap"), layer.function.colorMap());
        known.insert(QStringLiteral("transferFunction"), function);
        if (layer.kind == Layer::Kind::ColorCoding) {
            known.insert(QStringLiteral("field"), layer.field);
            known.insert(QStringLiteral("fieldIndex"), layer.fieldIndex);
            known.insert(QStringLiteral("colorRange"),
                         layer.wholeSeries ? QStringLiteral("series") : QStringLiteral("step"));
            const LineIntegralConvolution::Parameters& lic = layer.licParameters;
            known.insert(QStringLiteral("lic"), layer.lic);
            known.insert(QStringLiteral("licKernelLength"), lic.kernelLength);
            known.insert(QStringLiteral("licKernel"), lic.kernel == LineIntegralConvolution::Box
                                                          ? QStringLiteral("box")
                                                          : QStringLiteral("hann"));
            known.insert(
                QStringLiteral("licContrast"),
                lic.contrast == LineIntegralConvolution::SecondPass ? QStringLiteral("secondPass")
                : lic.contrast == LineIntegralConvolution::Equalize ? QStringLiteral("equalize")
                                                                    : QStringLiteral("stretch"));
            known.insert(QStringLiteral("licCombine"),
                         layer.licCombine == LineIntegralConvolution::Blend
                             ? QStringLiteral("blend")
                             : QStringLiteral("multiply"));
        } else if (layer.kind == Layer::Kind::Arrows) {
            known.insert(QStringLiteral("length"), layer.arrowLength);
            known.insert(QStringLiteral("size"), layer.arrowSize);
            known.insert(QStringLiteral("quantity"), layer.arrowQuantity);
            known.insert(QStringLiteral("style"),
                         layer.curlyArrows ? QStringLiteral("curly") : QStringLiteral("straight"));
        } else if (layer.kind == Layer::Kind::Streamlines) {
            const StreamlineParameters& p = layer.streamlines;
            known.insert(QStringLiteral("method"), p.method == RungeKuttaMethod
                                                       ? QStringLiteral("rungeKutta")
                                                       : QStringLiteral("euler"));
            known.insert(QStringLiteral("lineWidth"), p.lineWidth);
            known.insert(QStringLiteral("dSep"), p.dSep);
            known.insert(QStringLiteral("dTest"), p.dTest);
            known.insert(QStringLiteral("stepSize"), p.stepSize);
            known.insert(QStringLiteral("glyphs"), p.glyphs);
            known.insert(QStringLiteral("glyphSize"), p.glyphSize);
            known.insert(QStringLiteral("texture"), p.texture);
            known.insert(QStringLiteral("textureLength"), p.textureLength);
            known.insert(QStringLiteral("tapering"), p.tapering);
            known.insert(QStringLiteral("autoUpdate"), layer.autoUpdate);
            QJsonArray seeds;
            for (const QPointF& seed : layer.seeds)
                seeds.append(QJsonArray{seed.x(), seed.y()});
            known.insert(QStringLiteral("seeds"), seeds);
            known.insert(QStringLiteral("fillEvenly"), layer.fillEvenly);
        }
        newLayers.append(merged(oldLayers.at(i).toObject(), known));
    }
    top.insert(QStringLiteral("layers"), newLayers);
    return QJsonDocument(top).toJson(QJsonDocument::Indented);
}

bool Session::write(const QString& fileName, QString* reason) const
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        *reason = file.errorString();
        return false;
    }
    file.write(toJson(QFileInfo(fileName).absoluteDir()));
    if (!file.commit()) {
        *reason = file.errorString();
        return false;
    }
    return true;
}
