#pragma once

#include <QEvent>

// Every event type the program posts, in one place so that no two share a
// number. None carries data: each tells its receiver, in the receiver's
// thread, that something waits under the sender's lock to be taken, so an
// event may find nothing left to take.

// A sampling worker has stored a fresh raster (FlowDataWorker::takeResult).
inline constexpr QEvent::Type FlowDataReady = QEvent::Type(QEvent::User + 1);
// A series loader has finished reading a step (FlowSeriesLoader).
inline constexpr QEvent::Type SeriesStepLoaded = QEvent::Type(QEvent::User + 2);
// A whole-series range search has read one more step or has finished
// (SeriesRangeSearch).
inline constexpr QEvent::Type SeriesRangeProgress = QEvent::Type(QEvent::User + 3);
// A point-history reader has read one more step or has finished
// (PointHistoryReader).
inline constexpr QEvent::Type PointHistoryProgress = QEvent::Type(QEvent::User + 4);
