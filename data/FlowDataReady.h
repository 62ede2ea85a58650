#pragma once

#include <QEvent>

// Posted by a sampling worker to its receiver when a fresh raster waits in the
// worker. The event carries no data: the receiver takes the raster from the
// worker (takeResult), so an event may find nothing left to take.
inline constexpr QEvent::Type FlowDataReady = QEvent::Type(QEvent::User + 1);
