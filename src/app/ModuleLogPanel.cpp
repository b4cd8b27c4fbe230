#include "app/ModuleLogPanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

#include <stdexcept>

#include "app/Cp1252.h"
#include "app/GuardedApplication.h"
#include "app/PortBusy.h"
#include "app/PortJob.h"
#include "app/Winbinform.h"

namespace vindelor::app {

namespace {

void SetColour(QLabel* label, Qt::GlobalColor colour) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
}

}  // namespace

ModuleLogPanel::ModuleLogPanel(TfrmMain& form, QWidget* parent) : QWidget(parent), form_(form) {
    setObjectName(QStringLiteral("ModuleLogPanel"));
    Button22 = new QPushButton(QStringLiteral("Start Poll"));
    Button22->setObjectName(QStringLiteral("Button22"));
    Label20 = new QLabel;
    Label20->setObjectName(QStringLiteral("Label20"));
    RichEdit1 = new QPlainTextEdit;
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setReadOnly(true);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Button23 = new QPushButton(QStringLiteral("Clear Log"));
    Button23->setObjectName(QStringLiteral("Button23"));
    Button24 = new QPushButton(QStringLiteral("FileDump"));
    Button24->setObjectName(QStringLiteral("Button24"));
    Button24->setToolTip(QStringLiteral("Dumps data into %1 in the current folder").arg(QString::fromLatin1(modules::kDumpFile)));
    showRunning(false);

    auto* row = new QHBoxLayout;
    row->addWidget(Button22);
    row->addWidget(Label20);
    row->addStretch();
    row->addWidget(Button23);
    row->addWidget(Button24);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(row);
    layout->addWidget(RichEdit1, 1);

    connect(Button22, &QPushButton::clicked, this, [this] { guarded([this] { Button22Click(); }); });
    connect(Button23, &QPushButton::clicked, this, [this] { guarded([this] { Button23Click(); }); });
    connect(Button24, &QPushButton::clicked, this, [this] { guarded([this] { Button24Click(); }); });
    // The port object is about to be replaced or destroyed: the poll lets go of it first.
    connect(&form_, &TfrmMain::portClosing, this, [this] { stopPoll(); });
}

ModuleLogPanel::~ModuleLogPanel() { stopPoll(); }

void ModuleLogPanel::guarded(const std::function<void()>& handler) { RunGuarded(form_.notifier(), handler); }

void ModuleLogPanel::showRunning(bool running) {
    Label20->setText(running ? QStringLiteral("Running") : QStringLiteral("Not Running"));
    SetColour(Label20, running ? Qt::darkGreen : Qt::red);
}

void ModuleLogPanel::Button22Click() {
    if (polling())
        stopPoll();
    else
        startPoll();
}

void ModuleLogPanel::startPoll() {
    serial::TSerCom* port = form_.port();
    if (!port) throw serial::TSerErr(serial::TSerErr::Open, "Error opening serial port");
    form_.pauseReceiving();
    // A close request stops the poll first; it runs after the close handler has returned.
    busy_ = std::make_unique<PortBusy>(form_, std::initializer_list<QWidget*> {Button22, Button23, Button24},
                                       [this] { QTimer::singleShot(0, this, [this] { stopPoll(); }); });
    poller_ = std::make_unique<modules::ModulePoller>(
        *port, [this](const std::string& text) { PostToWindow(this, [this, text] { appendText(text); }); },
        [this](const serial::TSerErr& e) {
            const std::string reason = ErrorReportText(e);
            PostToWindow(this, [this, reason] { pollFailed(reason); });
        });
    showRunning(true);
}

void ModuleLogPanel::stopPoll() {
    if (!poller_) return;
    poller_->Stop();
    poller_.reset();
    showRunning(false);
    form_.resumeReceiving();
    busy_.reset();
}

void ModuleLogPanel::pollFailed(const std::string& reason) {
    // The poller has ended by itself: the port could not be reopened after a failed exchange.
    if (!poller_ || poller_->Running()) return;
    stopPoll();
    form_.notifier().warning("Error", reason);
}

void ModuleLogPanel::appendText(const std::string& text) {
    // A line end split across two replies ("\r", then "\n") stays one line end.
    const bool continuesLineEnd = !log_.empty() && log_.back() == '\r' && text.front() == '\n';
    log_ += text;
    QString shown = FromCp1252(continuesLineEnd ? std::string_view(text).substr(1) : std::string_view(text));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QTextCursor cursor(RichEdit1->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(shown);
    RichEdit1->verticalScrollBar()->setValue(RichEdit1->verticalScrollBar()->maximum());
}

void ModuleLogPanel::Button23Click() {
    log_.clear();
    RichEdit1->clear();
}

void ModuleLogPanel::Button24Click() {
    const std::string error = modules::DumpLog(modules::kDumpFile, log_);
    if (!error.empty()) throw std::runtime_error(error);
}

}  // namespace vindelor::app
