#pragma once

#include <QObject>

#include <functional>

namespace vindelor::app {

// Runs a job that talks to the device on a worker thread while the window thread keeps
// painting and handling input in a local event loop; returns when the job has ended and
// rethrows whatever it threw. The job must not touch widgets: it reports through
// PostToWindow. Every byte and pause of the job stays its own; only the waiting moves off
// the window thread.
void RunPortJob(const std::function<void()>& job);

// Queues fn to run on the thread of context (the window thread for a widget). Nothing runs
// when context has gone by then.
void PostToWindow(QObject* context, std::function<void()> fn);

}  // namespace vindelor::app
