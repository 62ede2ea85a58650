#pragma once

#include "app/shell/Layer.h"
#include "render/Streamline.h"
#include "render/StreamlineParameters.h"
#include "streamlines/StreamlineTracer.h"
#include "transfer/TransferFunction.h"

#include <QImage>
#include <QString>

#include <vector>

namespace Ui {
class StreamlinesLayer;
}

// Evenly-spaced streamlines of the current data set. Lines are traced on the
// GUI thread, synchronously, by the owned StreamlineTracer and kept in domain
// coordinates (x from 0 to 1, y from 0 to 1 / aspect, both in widths), so a
// size change only redraws them. Tracing parameters retrace while autoUpdate
// is on; look parameters and colour edits only redraw (StreamlineRenderer).
// While hidden the layer neither traces nor draws; showing it does what was
// left undone.
class LayerStreamlines : public Layer
{
    Q_OBJECT

public:
    static constexpr int colorTableSize = 256;

    explicit LayerStreamlines(bool visible);
    ~LayerStreamlines() override;

    // Builds the "StreamlinesLayer" form onto the panel, connects its controls,
    // takes over the start values of the three spin boxes and gives the
    // transfer function editor the layer's function.
    void setupControls(QWidget* panel) override;
    void draw(PaintContext& context) override;
    // The whole picture as filled shapes (context.source is taken as the
    // whole image).
    void drawVectors(PaintContext& context) override;
    Kind kind() const override { return Kind::Streamlines; }

    // The picture as last drawn (straight ARGB of the layer size); null
    // before the first drawing and after a new data set.
    const QImage& currentImage() const { return image; }
    const StreamlineParameters& parameters() const { return settings; }
    bool isAutoUpdate() const { return autoUpdate; }
    // Takes every setting at once (within the form's ranges, which the
    // caller keeps), shows them in the form and retraces once, rather than
    // once per control.
    void setParameters(const StreamlineParameters& parameters, bool autoUpdate);
    const TransferFunction& transferFunction() const override { return function; }
    const std::vector<Streamline>& currentStreamlines() const { return streamlines; }
    // Points in the file's coordinates (the axes as the view shows them)
    // that a line goes through before the evenly-spaced placement, which
    // goes on from their lines when fillEvenly is set. Kept across data
    // sets and series steps: every retrace places them on the data anew.
    void setSeeds(const QList<QPointF>& fileSeeds, bool fillEvenly);
    const QList<QPointF>& seeds() const { return userSeeds; }
    bool fillsEvenly() const { return fillEvenly; }
    // Seeds a rake of the view gets, from its first end to its last.
    int rakeSeedCount() const { return rakeSeeds; }
    // Why the stored lines stop short of filling the domain (the last
    // placement hit its budget of points or of distance tests); empty when
    // they are complete.
    const QString& incompleteReason() const { return incomplete; }

signals:
    // Emitted after a retrace that stopped at a budget, with the reason, and
    // with an empty reason after the first complete retrace that follows.
    void tracingIncomplete(const QString& reason);

public slots:
    // Resets the image and retraces whatever autoUpdate says. Without a data
    // set the stored lines stay as they were.
    void setFlowData(FlowData* flowData) override;
    // Shows a scaled copy of the old image at once, then redraws at full quality.
    void setSize(const QSize& size) override;
    // Paints the stored lines into a fresh image of `size`; nothing while the
    // size is invalid or empty.
    void drawImage();
    // Retraces with the current parameters and redraws; nothing without a data set.
    void updateImage();
    void autoUpdateImage();
    void setEulerMethod();
    void setRungeKuttaMethod();
    void setStepSize(double size);
    // width / 100; a stroke of width / 5 pixels.
    void setLineWidth(int width);
    void setDSep(double dSep);
    void setDTest(double dTest);
    void toggleGlyphMapping(bool val);
    // size / 100.
    void setGlyphSize(int size);
    void toggleTexture(bool val);
    // Period of the texture value, in points.
    void setTextureLength(int length);
    void toggleTapering(bool val);
    // Stores the flag only; switching it on does not retrace.
    void toggleAutoUpdate(bool val);
    void setTransferFunction(const TransferFunction& function) override;
    // Adds rakeSeedCount() seeds evenly from `from` to `to` (the file's
    // coordinates), one seed when the two are equal, and retraces.
    void addRake(const QPointF& from, const QPointF& to);
    void clearSeeds() { setSeeds({}, fillEvenly); }
    void setFillEvenly(bool fill) { setSeeds(userSeeds, fill); }
    void setRakeSeedCount(int count) { rakeSeeds = count; }

protected:
    void renderShown() override;
    // Replaces the stored lines by `lines`, traced with step `tracedWith`
    // (domain units), which sizes the glyphs.
    void replaceStreamlines(std::vector<Streamline> lines, double tracedWith);

    QImage image;
    std::vector<Streamline> streamlines;
    StreamlineParameters settings;
    double tracedStepSize;
    TransferFunction function;
    bool autoUpdate = true;

private:
    Ui::StreamlinesLayer* form = nullptr;
    StreamlineTracer tracer;
    QString incomplete;
    bool retraceDeferred = false; // a retrace was asked for while hidden
    QList<QPointF> userSeeds;
    bool fillEvenly = true;
    int rakeSeeds = 10;
};
