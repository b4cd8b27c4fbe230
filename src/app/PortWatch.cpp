#include "app/PortWatch.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>

#include "app/PortBusy.h"
#include "app/PortComboBox.h"
#include "app/Winbinform.h"
#include "serial/PortReopener.h"

namespace vindelor::app {

PortWatch::PortWatch(TfrmMain& window) : window_(window) {
    setObjectName(QStringLiteral("PortWatch"));
    cbTrace = new QCheckBox(QStringLiteral("Trace to file..."));
    cbTrace->setObjectName(QStringLiteral("cbTrace"));
    lblPortStatus = new QLabel;
    lblPortStatus->setObjectName(QStringLiteral("lblPortStatus"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(cbTrace);
    row->addSpacing(12);
    row->addWidget(lblPortStatus, 1);
    connect(cbTrace, &QCheckBox::clicked, this, [this] { cbTraceClick(); });

    checkTimer_.setInterval(kCheckMs);
    connect(&checkTimer_, &QTimer::timeout, this, [this] { check(); });
    checkTimer_.start();
    retryTimer_.setInterval(kRetryMs);
    connect(&retryTimer_, &QTimer::timeout, this, [this] { retry(); });
    // A frame cut short (the line fell silent) is written out after a while, not at the end.
    traceTimer_.setInterval(kTraceFlushMs);
    connect(&traceTimer_, &QTimer::timeout, this, [this] {
        if (trace_) trace_->flushStale();
    });
}

PortWatch::~PortWatch() {
    // The window has stopped its receive thread before this goes.
    lost_.reset();
    stopTrace();
}

bool PortWatch::startTrace(const QString& path) {
    stopTrace();
    std::string description;
    if (auto* port = window_.port())
        description = "port " + port->ResolvedDevicePath() + " baud " + std::to_string(port->BaudRate);
    std::string error;
    trace_ = protocol::TraceWriter::Create(path.toStdString(), description, error);
    if (!trace_) {
        window_.notifier().warning("Error", "Cannot write the trace: " + error);
        cbTrace->setChecked(false);
        return false;
    }
    if (auto* port = window_.port()) port->SetTap(trace_.get());
    cbTrace->setChecked(true);
    cbTrace->setToolTip(path);
    traceTimer_.start();
    return true;
}

void PortWatch::stopTrace() {
    traceTimer_.stop();
    if (!trace_) return;
    if (auto* port = window_.port()) port->SetTap(nullptr);
    trace_->finish();
    if (trace_->failed())
        window_.notifier().warning("Error", "The trace " + trace_->path() + " is incomplete: a write failed");
    finished_.push_back(std::move(trace_));
    cbTrace->setChecked(false);
    cbTrace->setToolTip(QString());
}

void PortWatch::cbTraceClick() {
    if (!cbTrace->isChecked()) {
        stopTrace();
        return;
    }
    cbTrace->setChecked(false);
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Trace to file"), QStringLiteral("trace.txt"),
                                                      QStringLiteral("Traces (*.txt *.trace);;All files (*)"));
    if (!path.isEmpty()) startTrace(path);
}

void PortWatch::check() {
    if (lost_) {
        // Someone chose another port meanwhile, and it works.
        if (window_.receiving()) endLost();
        return;
    }
    if (!window_.portLost()) return;
    const std::string device = window_.port()->ResolvedDevicePath();
    lblPortStatus->setText(QString::fromStdString("Port lost: " + device) + QStringLiteral(" \u2014 waiting for it to return"));
    // The port and baud boxes stay: the user may pick another port instead of waiting.
    lost_.reset(new PortBusy(window_, {static_cast<QWidget*>(window_.cbComPort), window_.cbBaudrate},
                             [this] { QTimer::singleShot(0, this, [this] { endLost(); }); }));
    window_.port()->Close();
    retryTimer_.start();
}

void PortWatch::retry() {
    auto* port = window_.port();
    if (!port) return;
    if (!serial::PortReopener::TryReopen(*port)) return;
    window_.restartReceiveThread();
    endLost();
    lblPortStatus->setText(QStringLiteral("Port back"));
}

void PortWatch::endLost() {
    retryTimer_.stop();
    if (!lost_) return;
    lblPortStatus->clear();
    lost_.reset();
}

}  // namespace vindelor::app
