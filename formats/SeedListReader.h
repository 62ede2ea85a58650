#pragma once

#include <QByteArray>
#include <QList>
#include <QPointF>
#include <QString>

// Reads a list of positions, one "x,y" per line (spaces or tabs around the
// numbers allowed, a third column and more ignored), in the file's own
// coordinates. The first line may be a header when it does not read as two
// numbers; blank lines and lines starting with '#' are skipped. Coordinates
// must be finite.
class SeedListReader
{
public:
    // False with "line N: reason" in *problem at the first bad line.
    static bool parse(const QByteArray& text, QList<QPointF>* seeds, QString* problem);
    // The same from a file, the file name ahead of the reason.
    static bool read(const QString& fileName, QList<QPointF>* seeds, QString* problem);
};
