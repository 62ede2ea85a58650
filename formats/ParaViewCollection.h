#pragma once

#include "formats/FileFormat.h"

#include <QString>

#include <vector>

// A ParaView collection (.pvd): an XML list of data files, one per time step,
// `<VTKFile type="Collection"><Collection><DataSet timestep="T" file="F"/>`.
// File names are relative to the collection's folder. Of the parts of a
// step (`part`) only part 0 is read, of the groups of a time only the first.
// Steps are ordered by their time as the file lists them, which ParaView
// writes ascending.
//
// Read as a file, a collection holds its steps inside: LoadOptions::step
// chooses the entry, which is read as any file with the same options, and
// the steps' times are the timesteps.
class ParaViewCollection : public FileFormat
{
public:
    struct Entry
    {
        double time = 0.0;
        QString fileName; // absolute
    };

    static const ParaViewCollection& instance();

    QString name() const override { return QStringLiteral("ParaView collection"); }
    QStringList suffixes() const override { return {QStringLiteral("pvd")}; }
    Claim probe(const QByteArray& head, const QString& fileName) const override;
    bool read(const QString& fileName, const LoadOptions& options, FlowRecord& record,
              QString* reason) const override;

    // The entries of a collection; false with the reason when it does not
    // parse or lists no data set.
    static bool entries(const QString& fileName, std::vector<Entry>* list, QString* reason);
};
