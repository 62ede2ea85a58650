#pragma once

#include "formats/FileFormat.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The native .gri/.dat pair: its names, its header and its byte layout, for
// the loader and the writer alike. The pair is not read into a FlowRecord:
// the loader reads the arrays straight from the files at the offsets given
// here, so read() refuses.
//
// Names: a file name is cut at the last "." of its file-name part to give
// the data name NAME; NAME.gri holds the geometry, NAME.dat the data (or,
// for the first step of a series, NAME.00000.dat). Step k of a series is the
// data set NAME.NNNNN, the number in five digits.
//
// Layout: the .gri file starts with a 40-byte header, six bytes of magic the
// loader skips, then "resolutionX resolutionY depth scalarSetCount timeSteps
// timeDifference" as text padded with blanks; then x y z per grid point. The
// .dat file holds vx vy vz and one value per scalar set per grid point. All
// values are little-endian IEEE 754 floats, the first index fastest.
class NativePairFormat : public FileFormat
{
public:
    struct Header
    {
        int resolutionX = 0;
        int resolutionY = 0;
        int depth = 0;
        int scalarSetCount = 0;
        int timeSteps = 0;
        float timeDifference = 0.0f;

        // Why the loader cannot hold this grid, or empty.
        QString refusal() const;
        qint64 points() const { return qint64(resolutionX) * qint64(resolutionY); }
        // Floats per grid point in the .dat file.
        qint64 recordFloats() const { return 3 + qint64(scalarSetCount); }
    };

    static constexpr int headerSize = 40;
    static constexpr int headerTextOffset = 6;
    static constexpr int stepDigits = 5;
    // Bytes 0 to 5 of every geometry file Velmora writes.
    static const QByteArray magic;

    static const NativePairFormat& instance();
    // Control characters other than line ends and tabs: not a text file.
    static bool looksBinary(const QByteArray& bytes);

    QString name() const override { return QStringLiteral("native pair"); }
    QStringList suffixes() const override { return {QStringLiteral("gri"), QStringLiteral("dat")}; }
    Claim probe(const QByteArray& head, const QString& fileName) const override;
    bool read(const QString& fileName, const LoadOptions& options, FlowRecord& record,
              QString* reason) const override;

    // Parses the 40 header bytes; the text is never read past byte 40, so a
    // number cannot run on into the binary block.
    static bool parseHeader(const QByteArray& bytes, Header& header);
    // The 40 header bytes: the magic, the six numbers, then blanks up to byte
    // 40 with at least one after the text. The time difference has the
    // fewest digits that read back as the same float. Empty when the text
    // does not fit.
    static QByteArray headerBytes(const Header& header);

    // Appends one value as the files hold it.
    static void appendValue(QByteArray& out, float value);

    static QString dataName(const QString& fileName);
    static QString geometryFileName(const QString& dataName);
    // The data files that may hold NAME's values, the first that opens wins.
    static QStringList dataFileNames(const QString& dataName);
    // NAME.NNNNN, the data name of step `number` of the series NAME.
    static QString stepName(const QString& base, int number);
    // Splits NAME.NNNNN into NAME and the number; false for other names.
    static bool splitStepName(const QString& dataName, QString* base, int* number);

protected:
    QString filterTitle() const override { return QStringLiteral("Velmora pair"); }
};
