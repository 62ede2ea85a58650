#include "app/VariableChoiceDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

VariableChoiceDialog::VariableChoiceDialog(const QString& reason, const QStringList& candidates,
                                           const QStringList& suggestedPair, int levels,
                                           QWidget* parent)
    : QDialog(parent), uBox(new QComboBox(this)), vBox(new QComboBox(this)),
      levelBox(new QSpinBox(this))
{
    setWindowTitle(tr("Choose the velocity components"));
    auto* layout = new QVBoxLayout(this);
    auto* explanation = new QLabel(reason, this);
    explanation->setWordWrap(true);
    layout->addWidget(explanation);
    auto* form = new QFormLayout;
    uBox->addItems(candidates);
    vBox->addItems(candidates);
    // Only the rules' own best pair is offered ready to take: the first two
    // candidates would let Return load coordinates or bounds as velocity.
    const bool suggested = suggestedPair.size() == 2 && candidates.contains(suggestedPair[0]) &&
                           candidates.contains(suggestedPair[1]);
    uBox->setCurrentIndex(suggested ? int(candidates.indexOf(suggestedPair[0])) : -1);
    vBox->setCurrentIndex(suggested ? int(candidates.indexOf(suggestedPair[1])) : -1);
    levelBox->setRange(0, qMax(0, levels - 1));
    form->addRow(tr("x component (u):"), uBox);
    form->addRow(tr("y component (v):"), vBox);
    form->addRow(tr("Level:"), levelBox);
    levelBox->setEnabled(levels > 1);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    auto allowOk = [this, ok] {
        ok->setEnabled(uBox->currentIndex() >= 0 && vBox->currentIndex() >= 0 &&
                       uBox->currentIndex() != vBox->currentIndex());
    };
    allowOk();
    connect(uBox, &QComboBox::currentIndexChanged, this, allowOk);
    connect(vBox, &QComboBox::currentIndexChanged, this, allowOk);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

LoadOptions VariableChoiceDialog::options() const
{
    LoadOptions options;
    options.uVariable = uBox->currentText();
    options.vVariable = vBox->currentText();
    options.level = levelBox->value();
    return options;
}

bool VariableChoiceDialog::offer(QWidget* parent, const ReadFailure& failure, LoadOptions* options)
{
    if (!options->uVariable.isEmpty() || !failure.offersChoice())
        return false;
    VariableChoiceDialog dialog(failure.reason, failure.candidates, failure.suggestedPair,
                                failure.levels, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const LoadOptions chosen = dialog.options();
    if (chosen.uVariable.isEmpty() || chosen.vVariable.isEmpty())
        return false;
    const int step = options->step;
    *options = chosen;
    options->step = step;
    return true;
}
