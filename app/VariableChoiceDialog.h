#pragma once

#include "formats/LoadOptions.h"
#include "formats/ReadFailure.h"

#include <QDialog>
#include <QStringList>

#include <functional>

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

// Asks which variables of a file are the velocity components (and which
// level to show) when the readers' rules find no pair or more than one.
//
// Where the file's reader takes components from other files (NetCDF), each
// component's list ends with "another file…", which asks for a file on
// the same grid and then lists that file's variables for the component (the
// choice becomes "FILE:VAR", which the readers take). Where the candidates
// lie on different horizontal grids, a component's list holds only those on
// the grid of the other component's choice.
class VariableChoiceDialog : public QDialog
{
    Q_OBJECT

public:
    // Returns the file chosen for "another file…", or empty when cancelled.
    using FileAsker = std::function<QString()>;

    // offer: the failure's candidates, their grids, the rules' best pair (the
    // u and v the choice starts with, or empty for none) and the levels.
    explicit VariableChoiceDialog(const ReadFailure& offer, QWidget* parent = nullptr,
                                  FileAsker askFile = nullptr);

    LoadOptions options() const;

    // When a load with *options failed because the file leaves the velocity
    // pair open, asks for it among the failure's candidates and fills
    // *options; false when there is nothing to ask or the user cancels.
    static bool offer(QWidget* parent, const ReadFailure& failure, LoadOptions* options,
                      FileAsker askFile = nullptr);

private:
    // One component's list: where its variables come from and what they are.
    struct Source
    {
        QComboBox* box = nullptr;
        QString file; // empty: the file being loaded
        QStringList names;
        QStringList grids;
    };

    // Fills `source`'s list with its variables on the grid of `other`'s
    // choice, keeping its own choice where it stays.
    void fill(Source& source, const Source& other);
    void chosen(Source& source, Source& other);
    void allowOk();
    static QString grid(const Source& source, const QString& name);

    Source uSource;
    Source vSource;
    QLabel* explanation;
    QSpinBox* levelBox;
    QPushButton* okButton = nullptr;
    FileAsker askFile;
    // Whether the file's reader takes a component from another file.
    bool otherFiles;
};
