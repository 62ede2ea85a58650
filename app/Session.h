#pragma once

#include "app/SessionLayer.h"
#include "data/ReferenceFrame.h"
#include "formats/LoadOptions.h"

#include <QByteArray>
#include <QDir>
#include <QJsonObject>
#include <QList>
#include <QPointF>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

// A view to come back to, as a JSON file (suffix .velmora): the data file with
// its load options and the step of the series on show, every layer's panel
// settings and transfer function, the zoom, pan, orientation and legend.
//
// Reading refuses what cannot be meant (not JSON, a wrong type, a transfer
// function without points or with a NaN, more than a session ever holds, a
// newer version) with a reason, and clamps numbers to the forms' ranges,
// noting each in adjustments(). Keys it does not know are kept and written
// again: writing overlays what it knows on the object it read.
class Session
{
public:
    static constexpr int currentVersion = 1;
    // Far above any session written by the program; a larger file is refused
    // before it is parsed.
    static constexpr qint64 maximumFileSize = 4 * 1024 * 1024;
    static constexpr int maximumLayers = 64;
    static constexpr int maximumPoints = 1024;
    static constexpr int maximumAdjustments = 8;

    // The data file, absolute; empty: none was loaded.
    QString dataFile;
    LoadOptions options;
    // The number of the series step on show (FlowSeries::stepNumber).
    int step = 0;
    // Columns and rows of the data set it was saved with; empty: unknown.
    QSize grid;

    float zoom = 1.0f;
    double centerX = 0.5;
    double centerY = 0.5;
    bool flipped = false;
    bool legend = false;
    bool axes = false;
    bool referenceArrow = false;
    bool scaleBar = false;
    ReferenceFrame frame;

    // In stack order.
    QList<SessionLayer> layers;

    // The profile line's vertices and the pinned point, in the file's
    // coordinates; none when empty or unset.
    QList<QPointF> profileLine;
    std::optional<QPointF> pinnedPoint;

    // Reads a session file; nothing, with the reason, when it is refused.
    static std::optional<Session> read(const QString& fileName, QString* reason);
    // The same from the file's bytes; relative data paths lie below `base`.
    static std::optional<Session> parse(const QByteArray& json, const QDir& base, QString* reason);

    // The JSON text, with the data path relative to `base` where it lies
    // below it.
    QByteArray toJson(const QDir& base) const;
    // Writes the file whole or not at all; false with the reason.
    bool write(const QString& fileName, QString* reason) const;

    // What reading clamped or left out, one line each, for the status bar.
    const QStringList& adjustments() const { return notes; }

private:
    QJsonObject original;
    QStringList notes;
};
