#pragma once

#include <QString>
#include <QStringList>

// Why a file did not load, and what it offers when the reason is a choice it
// leaves open: the variables that could be velocity components and the
// number of levels. Handed back by a failed load so that whoever asks the
// user need not read the file again.
struct ReadFailure
{
    QString reason;
    QStringList candidates;
    // The horizontal grid of each candidate, or empty (FlowRecord::candidateGrids).
    QStringList candidateGrids;
    // True when a component may come from another file (FlowRecord::readsOtherFiles).
    bool readsOtherFiles = false;
    // The rules' best pair (u, then v), or empty: what the choice starts with.
    QStringList suggestedPair;
    int levels = 1;
    // True when the readers' rules found no velocity pair or more than one.
    bool needsChoice = false;

    // One candidate is a choice too: its partner may lie in another file.
    bool offersChoice() const { return needsChoice && !candidates.isEmpty(); }
};
