#include "app/VariableChoiceDialog.h"

#include "formats/FlowFileReader.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

// The item that asks for another file; its data marks it.
const int otherFileRole = Qt::UserRole + 1;

} // namespace

VariableChoiceDialog::VariableChoiceDialog(const ReadFailure& offer, QWidget* parent,
                                           FileAsker newAskFile)
    : QDialog(parent), explanation(new QLabel(offer.reason, this)), levelBox(new QSpinBox(this)),
      askFile(std::move(newAskFile)), otherFiles(offer.readsOtherFiles)
{
    if (!askFile)
        askFile = [this] {
            return QFileDialog::getOpenFileName(
                this, tr("Velocity component from another file"), QString(),
                FlowFileReader::fileDialogFilters().join(QStringLiteral(";;")));
        };
    setWindowTitle(tr("Choose the velocity components"));
    auto* layout = new QVBoxLayout(this);
    explanation->setWordWrap(true);
    layout->addWidget(explanation);
    auto* form = new QFormLayout;
    for (Source* source : {&uSource, &vSource}) {
        source->box = new QComboBox(this);
        source->names = offer.candidates;
        if (offer.candidateGrids.size() == offer.candidates.size())
            source->grids = offer.candidateGrids;
    }
    // Only the rules' own best pair is offered ready to take: the first two
    // candidates would let Return load coordinates or bounds as velocity.
    const QStringList& pair = offer.suggestedPair;
    const bool suggested = pair.size() == 2 && offer.candidates.contains(pair[0]) &&
                           offer.candidates.contains(pair[1]);
    fill(uSource, vSource);
    fill(vSource, uSource);
    if (suggested) {
        uSource.box->setCurrentIndex(uSource.box->findText(pair[0]));
        fill(vSource, uSource);
        vSource.box->setCurrentIndex(vSource.box->findText(pair[1]));
        fill(uSource, vSource);
    }
    levelBox->setRange(0, qMax(0, offer.levels - 1));
    form->addRow(tr("x component (u):"), uSource.box);
    form->addRow(tr("y component (v):"), vSource.box);
    form->addRow(tr("Level:"), levelBox);
    levelBox->setEnabled(offer.levels > 1);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    okButton = buttons->button(QDialogButtonBox::Ok);
    allowOk();
    connect(uSource.box, &QComboBox::activated, this, [this] { chosen(uSource, vSource); });
    connect(vSource.box, &QComboBox::activated, this, [this] { chosen(vSource, uSource); });
    connect(uSource.box, &QComboBox::currentIndexChanged, this, &VariableChoiceDialog::allowOk);
    connect(vSource.box, &QComboBox::currentIndexChanged, this, &VariableChoiceDialog::allowOk);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QString VariableChoiceDialog::grid(const Source& source, const QString& name)
{
    const int at = int(source.names.indexOf(name));
    return at >= 0 && at < source.grids.size() ? source.grids[at] : QString();
}

void VariableChoiceDialog::fill(Source& source, const Source& other)
{
    const QSignalBlocker blocker(source.box);
    const bool otherChosen =
        other.box->currentIndex() >= 0 && !other.box->currentData(otherFileRole).toBool();
    const QString wanted = otherChosen ? grid(other, other.box->currentText()) : QString();
    const QString kept =
        source.box->currentData(otherFileRole).toBool() ? QString() : source.box->currentText();
    source.box->clear();
    for (const QString& name : std::as_const(source.names)) {
        const QString own = grid(source, name);
        if (wanted.isEmpty() || own.isEmpty() || own == wanted)
            source.box->addItem(name);
    }
    if (otherFiles) {
        source.box->addItem(tr("another file…"));
        source.box->setItemData(source.box->count() - 1, true, otherFileRole);
    }
    source.box->setCurrentIndex(kept.isEmpty() ? -1 : source.box->findText(kept));
}

void VariableChoiceDialog::chosen(Source& source, Source& other)
{
    if (source.box->currentData(otherFileRole).toBool()) {
        const QString fileName = askFile();
        FlowRecord record;
        ReadFailure failure;
        if (!fileName.isEmpty()) {
            // Read for its variables only: a file of one component leaves the pair open.
            FlowFileReader::read(fileName, LoadOptions(), record, &failure);
            if (record.candidates.isEmpty())
                explanation->setText(tr("%1 offers no velocity component: %2")
                                         .arg(QFileInfo(fileName).fileName(), failure.reason));
        }
        if (!record.candidates.isEmpty()) {
            source.file = fileName;
            source.names = record.candidates;
            source.grids = record.candidateGrids.size() == record.candidates.size()
                               ? record.candidateGrids
                               : QStringList();
            source.box->setToolTip(fileName);
        }
        const QSignalBlocker blocker(source.box);
        source.box->setCurrentIndex(-1);
        fill(source, other);
    }
    fill(other, source);
    allowOk();
}

void VariableChoiceDialog::allowOk()
{
    const LoadOptions chosen = options();
    okButton->setEnabled(!chosen.uVariable.isEmpty() && !chosen.vVariable.isEmpty() &&
                         chosen.uVariable != chosen.vVariable);
}

LoadOptions VariableChoiceDialog::options() const
{
    auto named = [](const Source& source) {
        if (source.box->currentIndex() < 0 || source.box->currentData(otherFileRole).toBool())
            return QString();
        return source.file.isEmpty() ? source.box->currentText()
                                     : source.file + QLatin1Char(':') + source.box->currentText();
    };
    LoadOptions options;
    options.uVariable = named(uSource);
    options.vVariable = named(vSource);
    options.level = levelBox->value();
    return options;
}

bool VariableChoiceDialog::offer(QWidget* parent, const ReadFailure& failure, LoadOptions* options,
                                 FileAsker askFile)
{
    if (!options->uVariable.isEmpty() || !failure.offersChoice())
        return false;
    VariableChoiceDialog dialog(failure, parent, std::move(askFile));
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
