#pragma once

#include "formats/LoadOptions.h"
#include "formats/ReadFailure.h"

#include <QDialog>
#include <QStringList>

class QComboBox;
class QSpinBox;

// Asks which variables of a file are the velocity components (and which
// level to show) when the readers' rules find no pair or more than one.
class VariableChoiceDialog : public QDialog
{
    Q_OBJECT

public:
    // suggestedPair: the u and v the choice starts with, or empty for none.
    VariableChoiceDialog(const QString& reason, const QStringList& candidates,
                         const QStringList& suggestedPair, int levels, QWidget* parent = nullptr);

    LoadOptions options() const;

    // When a load with *options failed because the file leaves the velocity
    // pair open, asks for it among the failure's candidates and fills
    // *options; false when there is nothing to ask or the user cancels.
    static bool offer(QWidget* parent, const ReadFailure& failure, LoadOptions* options);

private:
    QComboBox* uBox;
    QComboBox* vBox;
    QSpinBox* levelBox;
};
