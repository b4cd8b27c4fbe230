#include "app/ScopeTab.h"

#include <QAction>
#include <QCategoryAxis>
#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSaveFile>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "app/BasicTab.h"
#include "app/Cp1252.h"
#include "app/FixedPitchFont.h"
#include "app/PortBusy.h"
#include "app/ScopePlot.h"
#include "app/Winbinform.h"
#include "registers/ValueType.h"
#include "util/Number.h"
#include "util/SafeFile.h"

namespace vindelor::app {

namespace {

constexpr std::array<int, 12> kWindowMs = {100,   200,   500,   1000,   2000,   5000,
                                           10000, 30000, 60000, 120000, 300000, 600000};
constexpr double kMsPerSecond = 1000;
constexpr int kMsPerMinute = 60000;
constexpr int kPreDecimals = 3;
constexpr int kPreStepsPerWindow = 10;
constexpr int kReadoutPointSize = 9;
constexpr int kReadoutColumn = 11;
constexpr std::array<double, 2> kCursorStart = {
    0.25, 0.75};  // where the cursors first stand, across the plot

QString WindowText(int ms) {
    if (ms < kMsPerSecond) return QStringLiteral("%1 ms").arg(ms);
    if (ms < kMsPerMinute) return QStringLiteral("%1 s").arg(ms / static_cast<int>(kMsPerSecond));
    return QStringLiteral("%1 min").arg(ms / kMsPerMinute);
}

QString Number(double v) {
    return QString::fromStdString(registers::ScopeNumber(v));
}

}  // namespace

ScopeTab::ScopeTab(TfrmMain& window) : window_(window) {
    setObjectName(QStringLiteral("tsScope"));
    sender_.setAddressSource([&window] { return window.sender().GetAddress(); });
    sender_.setGroupSource([&window] { return window.sender().GetGroup(); });
    buildControls();

    timeout_.setSingleShot(true);
    timeout_.setInterval(registers::SampleLoop::kReplyTimeoutMs);
    connect(&timeout_, &QTimer::timeout, this, [this] { sendNext(); });
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, [this] { refreshPlot(); });
    applySetup(ScopeSetup{});
}

ScopeTab::~ScopeTab() {
    timeout_.stop();
    busy_.reset();
}

void ScopeTab::buildControls() {
    auto named = [](QWidget* w, const char* name) {
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };
    btnScopeRun = new QPushButton(QStringLiteral("Run"));
    btnScopeStop = new QPushButton(QStringLiteral("Stop"));
    btnScopeStop->setEnabled(false);
    cbScopeWindow = new QComboBox;
    for (int ms : kWindowMs) cbScopeWindow->addItem(WindowText(ms), ms);
    btnScopeExport = new QPushButton(QStringLiteral("Export CSV"));
    btnScopeImage = new QPushButton(QStringLiteral("Save image"));
    lblScopeRate = new QLabel(QStringLiteral("Rate: -"));
    cbScopeTrigger = new QComboBox;
    for (const char* m : {"Free run", "Auto", "Normal", "Single"})
        cbScopeTrigger->addItem(QString::fromLatin1(m));
    cbScopeTrigger->setToolTip(QStringLiteral(
        "Free run: no trigger, every row kept. Auto: scrolls while no trigger comes. "
        "Normal: waits for the trigger, shows the last capture. Single: stops after one."));
    cbScopeTriggerChannel = new QComboBox;
    cbScopeTriggerChannel->setSizeAdjustPolicy(
        QComboBox::AdjustToContents);  // register names are up to 15 long
    for (int c = 0; c < registers::kScopeChannels; ++c)
        cbScopeTriggerChannel->addItem(QString::number(c + 1));
    cbScopeTriggerEdge = new QComboBox;
    cbScopeTriggerEdge->addItem(QStringLiteral("rising \u2191"));
    cbScopeTriggerEdge->addItem(QStringLiteral("falling \u2193"));
    edScopeTriggerLevel = new QLineEdit;
    edScopeTriggerLevel->setMaximumWidth(fontMetrics().horizontalAdvance(QLatin1Char('0')) *
                                         kReadoutColumn);
    sbScopePre = new QDoubleSpinBox;
    sbScopePre->setLocale(
        QLocale::c());  // as every number of the tool, whatever the desktop's language
    sbScopePre->setDecimals(kPreDecimals);
    sbScopePre->setSuffix(QStringLiteral(" s"));
    sbScopePre->setToolTip(QStringLiteral("Time shown before the trigger"));
    lblScopeTrigger = new QLabel;
    cbScopeCursors = new QCheckBox(QStringLiteral("Cursors"));
    cbScopeCursors->setToolTip(
        QStringLiteral("Two cursors on a stopped or triggered plot: drag them; a double click "
                       "brings the nearer one"));
    btnScopeAxes = new QToolButton;
    btnScopeAxes->setText(QStringLiteral("Axes"));
    btnScopeAxes->setToolTip(QStringLiteral("Channels drawn on an axis of their own"));
    btnScopeAxes->setPopupMode(QToolButton::InstantPopup);
    auto* axesMenu = new QMenu(btnScopeAxes);
    for (int c = 0; c < registers::kScopeChannels; ++c) {
        auto* a = axesMenu->addAction(QString::number(c + 1));
        a->setCheckable(true);
        a->setObjectName(QStringLiteral("actScopeOwnAxis%1").arg(c + 1));
        actScopeOwnAxis[static_cast<std::size_t>(c)] = a;
    }
    btnScopeAxes->setMenu(axesMenu);
    lblScopeCursor = new QLabel;
    lblScopeReadout = new QLabel;
    lblScopeReadout->setFont(FixedPitchFont(kReadoutPointSize));
    lblScopeReadout->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Its four lines stay whole: the plot above gives way.
    lblScopeReadout->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    lblScopeReadout->hide();
    chScope = new ScopePlot;
    chScope->viewport()->setMouseTracking(true);
    chScope->viewport()->installEventFilter(this);
    named(btnScopeRun, "btnScopeRun");
    named(btnScopeStop, "btnScopeStop");
    named(cbScopeWindow, "cbScopeWindow");
    named(btnScopeExport, "btnScopeExport");
    named(btnScopeImage, "btnScopeImage");
    named(lblScopeRate, "lblScopeRate");
    named(cbScopeTrigger, "cbScopeTrigger");
    named(cbScopeTriggerChannel, "cbScopeTriggerChannel");
    named(cbScopeTriggerEdge, "cbScopeTriggerEdge");
    named(edScopeTriggerLevel, "edScopeTriggerLevel");
    named(sbScopePre, "sbScopePre");
    named(lblScopeTrigger, "lblScopeTrigger");
    named(cbScopeCursors, "cbScopeCursors");
    named(btnScopeAxes, "btnScopeAxes");
    named(lblScopeCursor, "lblScopeCursor");
    named(lblScopeReadout, "lblScopeReadout");
    named(chScope, "chScope");

    auto* controls = new QHBoxLayout;
    controls->addWidget(btnScopeRun);
    controls->addWidget(btnScopeStop);
    controls->addWidget(new QLabel(QStringLiteral("Window")));
    controls->addWidget(cbScopeWindow);
    controls->addWidget(lblScopeRate);
    controls->addStretch();
    controls->addWidget(btnScopeExport);
    controls->addWidget(btnScopeImage);
    auto* triggerRow = new QHBoxLayout;
    triggerRow->addWidget(new QLabel(QStringLiteral("Trigger")));
    triggerRow->addWidget(cbScopeTrigger);
    triggerRow->addWidget(cbScopeTriggerChannel);
    triggerRow->addWidget(cbScopeTriggerEdge);
    triggerRow->addWidget(new QLabel(QStringLiteral("through")));
    triggerRow->addWidget(edScopeTriggerLevel);
    triggerRow->addWidget(new QLabel(QStringLiteral("Pre")));
    triggerRow->addWidget(sbScopePre);
    triggerRow->addWidget(lblScopeTrigger, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(cbScopeCursors);
    bottom->addWidget(btnScopeAxes);
    bottom->addWidget(lblScopeCursor, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(controls);
    layout->addLayout(triggerRow);
    layout->addWidget(chScope, 1);
    layout->addLayout(bottom);
    layout->addWidget(lblScopeReadout);

    connect(btnScopeRun, &QPushButton::clicked, this, [this] { run(); });
    connect(btnScopeStop, &QPushButton::clicked, this, [this] { stop(); });
    connect(cbScopeWindow, &QComboBox::activated, this, [this] {
        sbScopePre->setMaximum(windowSeconds());
        sbScopePre->setSingleStep(windowSeconds() / kPreStepsPerWindow);
        triggerSetupChanged();
    });
    connect(cbScopeTrigger, &QComboBox::activated, this, [this] { modeChanged(); });
    connect(cbScopeTriggerChannel, &QComboBox::activated, this, [this] { triggerSetupChanged(); });
    connect(cbScopeTriggerEdge, &QComboBox::activated, this, [this] { triggerSetupChanged(); });
    connect(edScopeTriggerLevel, &QLineEdit::editingFinished, this, [this] {
        const auto v = util::ParseDouble(edScopeTriggerLevel->text().trimmed().toStdString());
        if (v) level_ = *v;
        edScopeTriggerLevel->setText(Number(level_));  // a level that does not read goes back
        triggerSetupChanged();
    });
    sbScopePre->setKeyboardTracking(false);  // a typed time counts when it is whole
    connect(sbScopePre, &QDoubleSpinBox::valueChanged, this, [this] { triggerSetupChanged(); });
    connect(cbScopeCursors, &QCheckBox::toggled, this, [this](bool on) {
        if (on) placeCursors(true);
        updateCursors();
    });
    for (int c = 0; c < registers::kScopeChannels; ++c)
        connect(actScopeOwnAxis[static_cast<std::size_t>(c)], &QAction::toggled, this,
                [this, c](bool own) {
                    chScope->setOwnAxis(c, own);
                    refreshPlot();
                });
    connect(btnScopeExport, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(
            this, QStringLiteral("Export CSV"), QStringLiteral("scope.csv"),
            QStringLiteral("CSV files (*.csv);;All files (*)"));
        if (!path.isEmpty()) exportCsv(path);
    });
    connect(btnScopeImage, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save image"),
                                                          QStringLiteral("scope.png"),
                                                          QStringLiteral("PNG images (*.png)"));
        if (!path.isEmpty()) saveImage(path);
    });
    // A zoom on a stopped trace draws the rows of the new range at full detail.
    connect(chScope, &ScopePlot::zoomedTo, this, [this](double from, double to) {
        if (!running())
            QTimer::singleShot(0, this, [this, from, to] {
                chScope->plot(shownRows(), from, to, false);
                updateCursors();
            });
    });
}

double ScopeTab::windowSeconds() const {
    return cbScopeWindow->currentData().toInt() / kMsPerSecond;
}
int ScopeTab::mode() const {
    return cbScopeTrigger->currentIndex();
}
double ScopeTab::preSeconds() const {
    return std::min(sbScopePre->value(), windowSeconds());
}

ScopeSetup ScopeTab::setup() const {
    ScopeSetup s;
    s.windowMs = cbScopeWindow->currentData().toInt();
    s.mode = mode();
    s.trigger.channel = cbScopeTriggerChannel->currentIndex();
    s.trigger.level = level_;
    s.trigger.edge = cbScopeTriggerEdge->currentIndex() == 0 ? registers::TriggerEdge::Rising
                                                             : registers::TriggerEdge::Falling;
    s.trigger.preSeconds = preSeconds();
    s.trigger.postSeconds = windowSeconds() - s.trigger.preSeconds;
    for (int c = 0; c < registers::kScopeChannels; ++c)
        s.ownAxis[static_cast<std::size_t>(c)] =
            actScopeOwnAxis[static_cast<std::size_t>(c)]->isChecked();
    return s;
}

void ScopeTab::applySetup(const ScopeSetup& s) {
    int window = cbScopeWindow->findData(s.windowMs);
    if (window < 0) window = cbScopeWindow->findData(ScopeSetup::kDefaultWindowMs);
    cbScopeWindow->setCurrentIndex(window);
    cbScopeTrigger->setCurrentIndex(s.mode);
    cbScopeTriggerChannel->setCurrentIndex(s.trigger.channel);
    cbScopeTriggerEdge->setCurrentIndex(s.trigger.edge == registers::TriggerEdge::Rising ? 0 : 1);
    level_ = s.trigger.level;
    edScopeTriggerLevel->setText(Number(level_));
    sbScopePre->setMaximum(windowSeconds());
    sbScopePre->setSingleStep(windowSeconds() / kPreStepsPerWindow);
    sbScopePre->setValue(s.trigger.preSeconds);
    for (int c = 0; c < registers::kScopeChannels; ++c)
        actScopeOwnAxis[static_cast<std::size_t>(c)]->setChecked(
            s.ownAxis[static_cast<std::size_t>(c)]);
    modeChanged();
}

void ScopeTab::modeChanged() {
    const bool triggered = mode() != ScopeSetup::Off;
    // Normal and Single show captures only; Auto decides at each refresh.
    if (running() && trig_ && mode() != ScopeSetup::Auto) view_ = View::Capture;
    for (QWidget* w :
         {static_cast<QWidget*>(cbScopeTriggerChannel), static_cast<QWidget*>(cbScopeTriggerEdge),
          static_cast<QWidget*>(edScopeTriggerLevel), static_cast<QWidget*>(sbScopePre)})
        w->setEnabled(triggered);
    if (running() && triggered != (trig_ != nullptr)) {
        // Between a free run and a triggered one the rows are kept differently: start afresh.
        rec_.clear();
        startTrigger();
    }
    showTriggerState();
}

void ScopeTab::triggerSetupChanged() {
    if (running() && trig_) startTrigger();
    if (!running()) {
        chScope->chart()->zoomReset();
        refreshPlot();
    }
    showTriggerState();
}

void ScopeTab::startTrigger() {
    trig_.reset();
    view_ = View::Recording;
    if (mode() == ScopeSetup::Off) return;
    // The history holds the whole window as well, for Auto to scroll through while no trigger
    // comes.
    trig_ = std::make_unique<registers::ScopeTrigger>(setup().trigger, windowSeconds());
    view_ = mode() == ScopeSetup::Auto ? View::History : View::Capture;
}

void ScopeTab::run() {
    if (running()) return;
    auto& list = window_.tsBasic->list;
    window_.clearMemos();
    // The selectors are read first, as key S does with an empty table; their replies name
    // the channels before the first row comes in.
    for (int k = 0; k < registers::kScopeChannels; ++k)
        list.RequestRegister(list.defs.findRegisterIndex(list.defs.sampleBase + k));
    rec_.clear();
    startTrigger();
    loop_ = registers::SampleLoop{};
    lastReplyOut_ = false;
    busy_.reset(new PortBusy(window_, {btnScopeStop, cbScopeWindow},
                             [this] { QTimer::singleShot(0, this, [this] { stop(); }); }));
    btnScopeStop->setEnabled(true);
    chScope->setRubberBand(QChartView::NoRubberBand);
    chScope->chart()->zoomReset();
    start_ = Clock::now();
    refresh_.start();
    sendNext();
    showTriggerState();
    updateCursors();
}

void ScopeTab::stop() {
    if (!running()) return;
    lastReplyOut_ = !loop_.due(Clock::now());
    timeout_.stop();
    refresh_.stop();
    busy_.reset();
    btnScopeStop->setEnabled(false);
    chScope->setRubberBand(QChartView::RectangleRubberBand);
    refreshPlot();
}

void ScopeTab::sendNext() {
    if (!running()) return;
    auto* port = window_.port();
    if (!window_.receiving() || !port) {
        stop();  // the port is gone: the status line says so, Run starts again
        return;
    }
    sender_.setPort(port);
    try {
        sender_.SendCommand(protocol::Cmd::Sample);
    } catch (const serial::TSerErr&) {
        stop();
        return;
    }
    loop_.sent(Clock::now());
    timeout_.start();
}

void ScopeTab::takeChannels() {
    const auto& list = window_.tsBasic->list;
    rec_.wordsPerRegister = list.defs.wordsPerRegister;
    bool changed = false;
    for (int c = 0; c < registers::kScopeChannels; ++c) {
        auto& ch = rec_.channels[static_cast<std::size_t>(c)];
        const auto& caption = list.sampleCaptions[static_cast<std::size_t>(c)];
        const int type = list.sampleTypes[static_cast<std::size_t>(c)];
        if (ch.name == caption && ch.type == type) continue;
        ch.name = caption;
        ch.type = type;
        changed = true;
    }
    if (changed) showChannelNames();
}

void ScopeTab::showChannelNames() {
    for (int c = 0; c < registers::kScopeChannels; ++c) {
        const auto& ch = rec_.channels[static_cast<std::size_t>(c)];
        const QString name = FromCp1252(ch.name);
        chScope->setChannel(c, name, ch.type != registers::Dummy);
        cbScopeTriggerChannel->setItemText(c, name);
        actScopeOwnAxis[static_cast<std::size_t>(c)]->setText(
            QStringLiteral("%1 on its own axis").arg(name));
    }
}

void ScopeTab::showEvent(QShowEvent* e) {
    // The register tab may have read other selectors meanwhile.
    if (!running()) takeChannels();
    QWidget::showEvent(e);
}

bool ScopeTab::onSampleRow(std::span<const std::uint8_t> payload) {
    const auto now = Clock::now();
    const bool late = !running() && lastReplyOut_ && !loop_.due(now);
    lastReplyOut_ = false;
    if (!running() && !late) return false;
    const double t = std::chrono::duration<double>(now - start_).count();
    takeChannels();
    loop_.replied(now);
    bool single = false;
    if (!trig_) {
        rec_.addRow(t, payload);
    } else {
        switch (trig_->add(rec_.makeRow(t, payload))) {
            case registers::ScopeTrigger::Event::Triggered:
                view_ = View::Capture;
                break;
            case registers::ScopeTrigger::Event::Completed:
                if (mode() == ScopeSetup::Single)
                    single = true;
                else
                    trig_->rearm();
                break;
            case registers::ScopeTrigger::Event::None:
                break;
        }
    }
    if (late)
        refreshPlot();
    else if (single)
        stop();  // no request is out: the capture is whole
    else
        sendNext();
    return true;
}

ScopeRows ScopeTab::shownRows() const {
    switch (view_) {
        case View::Recording:
            return ScopeRows(rec_.rows());
        case View::History:
            return trig_ ? ScopeRows(trig_->history()) : ScopeRows();
        case View::Capture:
            return trig_ ? ScopeRows(trig_->capture()) : ScopeRows();
    }
    return {};
}

void ScopeTab::refreshPlot() {
    if (running() && trig_ && mode() == ScopeSetup::Auto) {
        // Auto shows a capture for a window's time after it is whole, then scrolls on until
        // the next trigger.
        const auto& history = trig_->history();
        const bool recent =
            trig_->triggers() > 0 &&
            (trig_->state() == registers::ScopeTrigger::State::Capturing ||
             (!history.empty() &&
              history.back().seconds - trig_->completedSeconds() <= windowSeconds()));
        view_ = recent ? View::Capture : View::History;
    }
    const ScopeRows rows = shownRows();
    if (!running() && chScope->chart()->isZoomed()) {
        chScope->plot(rows, chScope->timeAxis()->min(), chScope->timeAxis()->max(), false);
    } else if (view_ == View::Capture && trig_) {
        const auto& t = trig_->setup();
        chScope->plot(rows, -t.preSeconds, t.postSeconds, true);
    } else {
        const double w = windowSeconds();
        const double last = rows.empty() ? 0 : rows.back().seconds;
        chScope->plot(rows, std::max(0.0, last - w), std::max(w, last), true);
    }
    if (view_ == View::Capture && trig_ && !trig_->capture().empty())
        chScope->setTriggerMark(trig_->setup().channel, trig_->setup().level);
    else
        chScope->setTriggerMark(std::nullopt);
    showRate();
    showTriggerState();
    updateCursors();
}

void ScopeTab::showRate() {
    lblScopeRate->setText(
        QStringLiteral("Rate: %1 rows/s").arg(QString::number(loop_.rate(), 'f', 1)));
}

void ScopeTab::showTriggerState() {
    QString text;
    if (!trig_ || (!running() && mode() == ScopeSetup::Off)) {
        text = running() ? QStringLiteral("Free running") : QString();
    } else if (!running()) {
        text = trig_->triggers() > 0 ? QStringLiteral("Stopped: triggered at %1 s")
                                           .arg(QString::number(trig_->triggerSeconds(), 'f', 3))
                                     : QStringLiteral("Stopped: no trigger came");
    } else {
        using State = registers::ScopeTrigger::State;
        switch (trig_->state()) {
            case State::Filling:
                text = QStringLiteral("Taking the pre-trigger time");
                break;
            case State::Armed:
                text = view_ == View::History ? QStringLiteral("No trigger: scrolling")
                                              : QStringLiteral("Waiting for the trigger");
                break;
            case State::Capturing:
                text = QStringLiteral("Triggered");
                break;
            case State::Done:
                text = QStringLiteral("Captured");
                break;
        }
        if (trig_->triggers() > 0) text += QStringLiteral(" (%1 so far)").arg(trig_->triggers());
    }
    lblScopeTrigger->setText(text);
}

int ScopeTab::plottedPoints(int channel) const {
    return chScope->plottedPoints(channel);
}

QString ScopeTab::readoutAt(double seconds) const {
    const ScopeRows rows = shownRows();
    if (rows.empty()) return {};
    const auto& row = rows[rows.nearest(seconds)];
    QString text = QStringLiteral("t %1 s").arg(QString::number(row.seconds, 'f', 6));
    for (int c = 0; c < registers::kScopeChannels; ++c) {
        const auto ci = static_cast<std::size_t>(c);
        if (rec_.channels[ci].type == registers::Dummy) continue;
        text += QStringLiteral("    %1 %2")
                    .arg(FromCp1252(rec_.channels[ci].name), Number(row.values[ci]));
    }
    return text;
}

bool ScopeTab::cursorsAvailable() const {
    return !shownRows().empty() && (!running() || view_ == View::Capture);
}

void ScopeTab::setCursor(int which, double seconds) {
    const ScopeRows rows = shownRows();
    if (rows.empty()) return;
    cursors_[static_cast<std::size_t>(which)] = rows[rows.nearest(seconds)].seconds;
    updateCursors();
}

void ScopeTab::placeCursors(bool outOfSightToo) {
    const ScopeRows rows = shownRows();
    if (rows.empty()) return;
    const double from = chScope->timeAxis()->min();
    const double to = chScope->timeAxis()->max();
    for (std::size_t i = 0; i < cursors_.size(); ++i) {
        auto& t = cursors_[i];
        if (!t || (outOfSightToo && (*t < from || *t > to)))
            t = rows[rows.nearest(from + (to - from) * kCursorStart[i])].seconds;
    }
}

void ScopeTab::updateCursors() {
    if (cbScopeCursors->isChecked() && cursorsAvailable()) placeCursors(false);
    const bool shown =
        cbScopeCursors->isChecked() && cursorsAvailable() && cursors_[0] && cursors_[1];
    cbScopeCursors->setEnabled(cursorsAvailable() || cbScopeCursors->isChecked());
    chScope->setCursors(shown ? cursors_[0] : std::nullopt, shown ? cursors_[1] : std::nullopt);
    lblScopeReadout->setVisible(shown);
    if (shown) lblScopeReadout->setText(cursorReadout());
}

QString ScopeTab::cursorReadout() const {
    // Columns: the time, then each channel that has values; rows A, B and their difference.
    const ScopeRows rows = shownRows();
    const auto& a = rows[rows.nearest(*cursors_[0])];
    const auto& b = rows[rows.nearest(*cursors_[1])];
    // A blank before every cell keeps a long number apart from its neighbour.
    auto cell = [](const QString& s) {
        return QLatin1Char(' ') + s.rightJustified(kReadoutColumn);
    };
    QString lines[4] = {
        QStringLiteral("  ") + cell(QStringLiteral("t/s")),
        QStringLiteral("A ") + cell(QString::number(a.seconds, 'f', 6)),
        QStringLiteral("B ") + cell(QString::number(b.seconds, 'f', 6)),
        QStringLiteral("\u0394 ") + cell(QString::number(b.seconds - a.seconds, 'f', 6))};
    for (int c = 0; c < registers::kScopeChannels; ++c) {
        const auto ci = static_cast<std::size_t>(c);
        if (rec_.channels[ci].type == registers::Dummy) continue;
        lines[0] += cell(FromCp1252(rec_.channels[ci].name));
        lines[1] += cell(Number(a.values[ci]));
        lines[2] += cell(Number(b.values[ci]));
        lines[3] += cell(Number(b.values[ci] - a.values[ci]));
    }
    return lines[0] + QLatin1Char('\n') + lines[1] + QLatin1Char('\n') + lines[2] +
           QLatin1Char('\n') + lines[3];
}

int ScopeTab::cursorNear(double column) const {
    if (!lblScopeReadout->isVisible()) return -1;
    int best = -1;
    double bestDistance = kGrabPixels;
    for (int i = 0; i < 2; ++i) {
        const auto& t = cursors_[static_cast<std::size_t>(i)];
        if (!t) continue;
        const double d = std::abs(chScope->columnOf(*t) - column);
        if (d <= bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

bool ScopeTab::eventFilter(QObject* watched, QEvent* e) {
    if (watched != chScope->viewport()) return QWidget::eventFilter(watched, e);
    const bool cursorsOn = lblScopeReadout->isVisible();  // the cursors are drawn
    switch (e->type()) {
        case QEvent::MouseMove: {
            const auto* me = static_cast<QMouseEvent*>(e);
            const double t = chScope->timeAt(me->position());
            if (dragging_ >= 0) {
                setCursor(dragging_, t);
                return true;
            }
            lblScopeCursor->setText(readoutAt(t));
            if (cursorsOn && cursorNear(me->position().x()) >= 0)
                chScope->viewport()->setCursor(Qt::SplitHCursor);
            else
                chScope->viewport()->unsetCursor();
            break;
        }
        case QEvent::MouseButtonPress: {
            const auto* me = static_cast<QMouseEvent*>(e);
            if (!cursorsOn || me->button() != Qt::LeftButton) break;
            dragging_ = cursorNear(me->position().x());
            if (dragging_ >= 0) return true;  // a drag of a cursor, not a zoom
            break;
        }
        case QEvent::MouseButtonRelease:
            if (dragging_ >= 0) {
                dragging_ = -1;
                return true;
            }
            break;
        case QEvent::MouseButtonDblClick: {
            const auto* me = static_cast<QMouseEvent*>(e);
            if (!cursorsOn || me->button() != Qt::LeftButton) break;
            // The nearer cursor comes to the place.
            const double t = chScope->timeAt(me->position());
            const int which = std::abs(*cursors_[0] - t) <= std::abs(*cursors_[1] - t) ? 0 : 1;
            setCursor(which, t);
            return true;
        }
        default:
            break;
    }
    return QWidget::eventFilter(watched, e);
}

bool ScopeTab::exportCsv(const QString& path) {
    std::ostringstream csv;
    rec_.writeCsvHeader(csv);
    const ScopeRows rows = shownRows();
    for (std::size_t i = 0; i < rows.size(); ++i)
        registers::ScopeRecording::writeCsvRow(csv, rows[i]);
    const std::string error = util::WriteFileSafely(path.toStdString(), csv.str());
    if (error.empty()) return true;
    window_.notifier().warning("Error", error);
    return false;
}

bool ScopeTab::saveImage(const QString& path) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && chScope->grab().save(&file, "PNG") && file.commit())
        return true;
    window_.notifier().warning(
        "Error", "Cannot write " + path.toStdString() + ": " + file.errorString().toStdString());
    return false;
}

}  // namespace vindelor::app
