#pragma once

#include "data/ReferenceFrame.h"

#include <QDialog>

#include <memory>

class FlowData;
namespace Ui {
class ReferenceFrameDialog;
}

// View → Reference Frame…: the frame the vectors are seen from. The given
// velocity starts at the data set's mean, the most common choice to refine.
class ReferenceFrameDialog : public QDialog
{
    Q_OBJECT

public:
    ReferenceFrameDialog(QWidget* parent, const ReferenceFrame& current, const FlowData* flowData);
    ~ReferenceFrameDialog() override;

    ReferenceFrame chosenFrame() const;

private:
    std::unique_ptr<Ui::ReferenceFrameDialog> ui;
};
