#pragma once

#include <QString>

class FlowData;
class Session;
class ViewPort;

// Between a session and the view port it describes: takes the view's and
// every layer's settings into a session, and sets them back through the
// layers' and the view's own setters (and the panels, which then show them).
class SessionBinding
{
public:
    // The view port's settings into `session` (its data part is the
    // caller's); keys the session read and does not know stay.
    static void capture(const ViewPort& viewPort, Session* session);
    // Sets what `session` holds on the view port and its layers, after the
    // data set is in: a new data set starts the layers afresh. A layer whose
    // kind differs from the session's at its place keeps its settings; the
    // returned text says so (empty when all applied).
    static QString apply(const Session& session, ViewPort& viewPort);
};
