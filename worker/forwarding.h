// The engine's progress and message callbacks turn into the signals `updateProgress(int)` and
// `updateMessage(QString)` of one receiver, the dialog, which registers itself here. They are
// emitted on the calling transfer thread, so a receiver on the GUI thread gets them queued.
#pragma once

#include "device/types.h"

class QObject;

// nullptr: the callbacks emit nothing.
void setForwardingReceiver(QObject* receiver);

// Starts the progress of a new file at 0. Each transfer thread counts from its first report (the
// file's name comes first); the receiver gets the slowest thread's percentage, and only when it
// has grown, so that it never goes back within a file.
void beginForwardedFile();

void forwardProgress(int percent);
// The text belongs to the transfer thread and may die right after the call: what crosses to the
// receiver is a QString copy, owned by the queued call and released after the slot has run.
void forwardMessage(const WChar* text);
