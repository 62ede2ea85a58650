#pragma once

#include "formats/FlowRecord.h"

#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

// The rules every reader follows to find the velocity components among a
// file's variables (columns, arrays, NetCDF variables). Names compare without
// case. A pair the options name wins over the tables; when the tables find
// no pair or more than one, the choice is left open: the record is marked,
// keeps the candidates the user may choose from, and the reason lists them.
class VelocityPair
{
public:
    // Names that mean a single x or y velocity component.
    static bool isXComponent(const QString& name);
    static bool isYComponent(const QString& name);
    // Names that mean an axis.
    static bool isXAxis(const QString& name);
    static bool isYAxis(const QString& name);
    // Usual names of a pair stored as two variables (u/v, uo/vo, u10/v10,
    // uwnd/vwnd, ...), compared with case: "U" and "u" are both listed.
    static const std::vector<std::pair<QString, QString>>& commonPairs();

    // The index of the one name that `matches`, skipping index `skip`: -1
    // when none does, -2 when more than one does.
    static int findOnly(const QStringList& names, bool (*matches)(const QString&), int skip = -1);

    // A "FILE:VAR" option split into its file (empty when there is none) and
    // its variable.
    static void splitVariable(const QString& option, QString* file, QString* variable);

    // Leaves the choice open: marks the record (whose candidates the reader
    // filled as soon as it knew them) and sets *reason. Returns false, for
    // the reader to return.
    static bool leaveOpen(FlowRecord& record, const QString& why, QString* reason);
};
