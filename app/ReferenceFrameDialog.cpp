#include "app/ReferenceFrameDialog.h"

#include "data/FlowData.h"

#include "ui_ReferenceFrameDialog.h"

#include <cmath>

ReferenceFrameDialog::ReferenceFrameDialog(QWidget* parent, const ReferenceFrame& current,
                                           const FlowData* flowData)
    : QDialog(parent), ui(std::make_unique<Ui::ReferenceFrameDialog>())
{
    ui->setupUi(this);
    double u = current.u();
    double v = current.v();
    if (current.motion() != ReferenceFrame::Motion::Given && flowData) {
        const auto mean = flowData->meanVelocity();
        if (std::isfinite(mean.first) && std::isfinite(mean.second)) {
            u = mean.first;
            v = mean.second;
        }
    }
    ui->uSpinBox->setValue(u);
    ui->vSpinBox->setValue(v);
    if (flowData && !flowData->velocityUnit().isEmpty()) {
        ui->uSpinBox->setSuffix(QLatin1Char(' ') + flowData->velocityUnit());
        ui->vSpinBox->setSuffix(QLatin1Char(' ') + flowData->velocityUnit());
    }
    switch (current.motion()) {
    case ReferenceFrame::Motion::AtRest:
        ui->atRestButton->setChecked(true);
        break;
    case ReferenceFrame::Motion::Mean:
        ui->meanButton->setChecked(true);
        break;
    case ReferenceFrame::Motion::Given:
        ui->givenButton->setChecked(true);
        break;
    }
    auto enable = [this] {
        ui->uSpinBox->setEnabled(ui->givenButton->isChecked());
        ui->vSpinBox->setEnabled(ui->givenButton->isChecked());
    };
    connect(ui->givenButton, &QRadioButton::toggled, this, enable);
    enable();
}

ReferenceFrameDialog::~ReferenceFrameDialog() = default;

ReferenceFrame ReferenceFrameDialog::chosenFrame() const
{
    if (ui->meanButton->isChecked())
        return ReferenceFrame::withMean();
    if (ui->givenButton->isChecked())
        return ReferenceFrame::withVelocity(ui->uSpinBox->value(), ui->vSpinBox->value());
    return ReferenceFrame();
}
