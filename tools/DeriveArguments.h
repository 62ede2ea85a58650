#pragma once

#include "data/DerivedField.h"

#include <QList>
#include <QString>

// --derive KEYS of the tools that add derived fields: comma-separated keys
// (DerivedField::key) in the order wanted, or "all" for every kind.
namespace DeriveArguments {

// False with a problem naming the option for a key that is not known.
inline bool parse(const QString& option, const QString& text, QList<DerivedField::Kind>* kinds,
                  QString* problem)
{
    if (text.trimmed() == QLatin1String("all")) {
        for (int k = 0; k < DerivedField::kindCount; ++k)
            kinds->append(DerivedField::Kind(k));
        return true;
    }
    for (const QString& key : text.split(QLatin1Char(','))) {
        DerivedField::Kind kind;
        if (!DerivedField::fromKey(key.trimmed(), &kind)) {
            *problem = QStringLiteral("--%1: unknown field \"%2\" (one of %3, or all)")
                           .arg(option, key, DerivedField::keyList());
            return false;
        }
        kinds->append(kind);
    }
    return true;
}

} // namespace DeriveArguments
