#include "app/Winbinform.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <QTabWidget>
#include <QTextCursor>
#include <QVBoxLayout>

#include "app/About.h"
#include "app/BasicTab.h"
#include "app/BigVxPanel.h"
#include "app/NcxBootPanel.h"
#include "app/Cp1252.h"
#include "app/FirmwarePanel.h"
#include "app/GroupModuleTab.h"
#include "app/GuardedApplication.h"
#include "app/HiddenTabs.h"
#include "app/MessageRouter.h"
#include "app/ModuleLogPanel.h"
#include "app/MotorTestPanel.h"
#include "app/PortComboBox.h"
#include "app/ProfiTab.h"
#include "app/RxTab.h"
#include "app/PortWatch.h"
#include "app/ScopeSetup.h"
#include "app/ScopeTab.h"
#include "app/TdlgEnterValue.h"
#include "app/VarpTab.h"
#include "protocol/ByteText.h"
#include "registers/Definitions.h"

namespace vindelor::app {

namespace {

constexpr int kAddressBoxWidth = 40;
constexpr int kGroupBoxWidth = 32;
constexpr int kTabStretch = 3;
constexpr int kMemoStretch = 1;
constexpr int kWindowMargin = 4;
// The module log and the motor tests sit in the right part of their tabs.
constexpr int kLogPanelWidth = 410;
constexpr int kLogPanelHeight = 290;
constexpr int kMotorPanelWidth = 260;
constexpr int kMotorPanelHeight = 200;

const char* const kBaudRates[] = {"9600", "19200", "38400", "57600", "115200", "230400", "460800", "921600"};

void AppendText(QPlainTextEdit* memo, const QString& text) {
    QTextCursor cursor(memo->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
}

QLabel* Caption(const char* text) { return new QLabel(QString::fromLatin1(text)); }

QPlainTextEdit* Memo(const char* name) {
    auto* memo = new QPlainTextEdit;
    memo->setObjectName(QString::fromLatin1(name));
    memo->setReadOnly(true);
    memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo->setWordWrapMode(QTextOption::WrapAnywhere);
    return memo;
}

QWidget* Page(const char* name) {
    auto* page = new QWidget;
    page->setObjectName(QString::fromLatin1(name));
    return page;
}

}  // namespace

TfrmMain::TfrmMain(protocol::Notifier& notifier, QWidget* parent)
    : QWidget(parent),
      notifier_(notifier),
      sink_(this, [this](const protocol::Message& m) { handleMessage(m); }),
      router_(std::make_unique<MessageRouter>(*this)) {
    sender_.setEcho([this](std::string_view item) { AppendText(meSend, FromCp1252(item)); });
    sender_.setAddressSource([this] { return protocol::DecimalOrZero(ToCp1252(edAddress->text())); });
    sender_.setGroupSource([this] { return protocol::DecimalOrZero(ToCp1252(edGroup->text())); });

    // The order matters: settings are applied to the controls they name, the port opens with
    // the settings read, and the list is built last.
    buildControls();
    tsBasic->list.registerWords.fill(0);
    cbComPort->refreshDevices();
    readSettings();
    hiddenTabs_->decide(settings_.readInteger("KyvaneAdmin").has_value());
    PageControl1->setCurrentIndex(0);
    ReopenPort();
    tsBasic->list.registerWords.fill(0);
    tsBasic->list.sampleTypes.fill(0);
    focusRegisterList();
    FormCreate();
}

TfrmMain::~TfrmMain() {
    emit portClosing();
    stopReceiveThread();
    WriteScopeSetup(settings_, tsScope->setup());
    // These two hold port operations and the port's tap: they go while the window is whole.
    delete tsScope;
    tsScope = nullptr;
    delete portWatch;
    portWatch = nullptr;
    sender_.setPort(nullptr);
    port_.reset();
    writeSettings();
    settings_.flush();
}

void TfrmMain::buildControls() {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Vindelor"));
    setMinimumWidth(kWindowWidth);
    setMaximumWidth(kWindowWidth);
    setMinimumHeight(kMinimumHeight);
    resize(kWindowWidth, kWindowHeight);

    ComboBox1 = new QComboBox;
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    for (int type = registers::VX20_95; type <= registers::KT56; ++type)
        ComboBox1->addItem(QString::fromLatin1(registers::FilesOf(type).name));
    cbAltFiles = new QCheckBox(QStringLiteral("Alt."));
    cbAltFiles->setObjectName(QStringLiteral("cbAltFiles"));
    cbComPort = new PortComboBox;
    cbComPort->setObjectName(QStringLiteral("cbComPort"));
    cbBaudrate = new QComboBox;
    cbBaudrate->setObjectName(QStringLiteral("cbBaudrate"));
    for (const char* rate : kBaudRates) cbBaudrate->addItem(QString::fromLatin1(rate));
    cbBaudrate->setCurrentText(QString::number(kDefaultBaudRate));
    edAddress = new QLineEdit;
    edAddress->setObjectName(QStringLiteral("edAddress"));
    edAddress->setFixedWidth(kAddressBoxWidth);
    edGroup = new QLineEdit;
    edGroup->setObjectName(QStringLiteral("edGroup"));
    edGroup->setFixedWidth(kGroupBoxWidth);
    Label4 = new QLabel(QStringLiteral("V" VINDELOR_VERSION));
    Label4->setObjectName(QStringLiteral("Label4"));
    hiddenTabs_ = new HiddenTabs(*this);
    Label4->setToolTip(AboutText());
    Label4->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Label4, &QWidget::customContextMenuRequested, this, [this] { notifier_.information("About Vindelor", AboutText().toStdString()); });

    auto* top = new QHBoxLayout;
    top->addWidget(Caption("Type"));
    top->addWidget(ComboBox1);
    top->addWidget(cbAltFiles);
    top->addSpacing(8);
    top->addWidget(Caption("Serial Port"));
    top->addWidget(cbComPort);
    top->addWidget(Caption("Baud"));
    top->addWidget(cbBaudrate);
    top->addWidget(Caption("Address"));
    top->addWidget(edAddress);
    top->addWidget(Caption("Group"));
    top->addWidget(edGroup);
    top->addStretch();
    top->addWidget(Label4);

    PageControl1 = new QTabWidget;
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    tsBasic = new BasicTab(*this);
    tsPicoPLC = rxTab = new RxTab(*this);
    tsProfi = profiTab = new ProfiTab(*this);
    tsBigVx = Page("tsBigVx");
    motorTests = new MotorTestPanel(*this, tsBigVx);
    motorTests->setFixedSize(kMotorPanelWidth, kMotorPanelHeight);
    tsVXM_NC = Page("tsVXM_NC");
    moduleLog = new ModuleLogPanel(*this, tsVXM_NC);
    moduleLog->setMinimumSize(kLogPanelWidth, kLogPanelHeight);
    // The expansion-module tab pings the programmable module as the VARP tab does.
    stPingModule = new QPushButton(QStringLiteral("Ping module"), tsVXM_NC);
    stPingModule->setObjectName(QStringLiteral("stPingModule"));
    firmwarePanel = new FirmwarePanel(*this, tsVXM_NC);
    firmwarePanel->setFixedHeight(90);
    tsVarp = new VarpTab(*this);
    connect(stPingModule, &QPushButton::clicked, this, [this] { guarded([this] { tsVarp->btnPingModuleClick(); }); });
    tsFS = fsTab = new GroupModuleTab(*this);
    bigVxPanel = new BigVxPanel(*this);
    auto* bigVxLayout = new QHBoxLayout(tsBigVx);
    bigVxLayout->addWidget(bigVxPanel, 1);
    bigVxLayout->addWidget(motorTests, 0, Qt::AlignTop);
    ncxBootPanel = new NcxBootPanel(*this);
    // The firmware update on top; below it the ping and the bootloader tools in a column
    // beside the module log, which takes the rest of the page.
    auto* ncxLayout = new QVBoxLayout(tsVXM_NC);
    ncxLayout->setContentsMargins(8, 8, 8, 8);
    ncxLayout->addWidget(firmwarePanel);
    auto* ncxTools = new QVBoxLayout;
    ncxTools->addWidget(stPingModule);
    ncxTools->addWidget(ncxBootPanel);
    ncxTools->addStretch();
    auto* ncxRow = new QHBoxLayout;
    ncxRow->addLayout(ncxTools);
    ncxRow->addWidget(moduleLog, 1);
    ncxLayout->addLayout(ncxRow, 1);
    PageControl1->addTab(tsBasic, QStringLiteral("VxBasic"));
    PageControl1->addTab(tsPicoPLC, QStringLiteral("Rx"));
    PageControl1->addTab(tsProfi, QStringLiteral("Profi"));
    PageControl1->addTab(tsBigVx, QStringLiteral("BigVx"));
    PageControl1->addTab(tsVXM_NC, QStringLiteral("VXM-NC"));
    PageControl1->addTab(tsVarp, QStringLiteral("VARP"));
    PageControl1->addTab(tsFS, QStringLiteral("VXM-NSx"));
    tsScope = new ScopeTab(*this);
    PageControl1->addTab(tsScope, QStringLiteral("Scope"));

    // Device type selectors that are never seen; start-up applies the stored type through them.
    rbVxMode = new QRadioButton(QStringLiteral("VX20-95"), this);
    rbVxMode->setObjectName(QStringLiteral("rbVxMode"));
    rbBigVxMode = new QRadioButton(QStringLiteral("VX300/700"), this);
    rbBigVxMode->setObjectName(QStringLiteral("rbBigVxMode"));
    rbKTI30Mode = new QRadioButton(QStringLiteral("KT42"), this);
    rbKTI30Mode->setObjectName(QStringLiteral("rbKTI30Mode"));
    for (QRadioButton* rb : {rbVxMode, rbBigVxMode, rbKTI30Mode}) rb->hide();

    meSend = Memo("meSend");
    meRecieved = Memo("meRecieved");
    auto* memos = new QGridLayout;
    memos->addWidget(Caption("Send"), 0, 0);
    memos->addWidget(Caption("Recieved"), 0, 1);
    memos->addWidget(meSend, 1, 0);
    memos->addWidget(meRecieved, 1, 1);

    btnExit = new QPushButton(QStringLiteral("E&xit"));
    btnExit->setObjectName(QStringLiteral("btnExit"));
    auto* bottom = new QHBoxLayout;
    portWatch = new PortWatch(*this);
    bottom->addWidget(portWatch, 1);
    bottom->addWidget(btnExit);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kWindowMargin, kWindowMargin, kWindowMargin, kWindowMargin);
    layout->addLayout(top);
    layout->addWidget(PageControl1, kTabStretch);
    layout->addLayout(memos, kMemoStretch);
    layout->addLayout(bottom);

    connect(cbComPort, &QComboBox::activated, this, [this](int i) { guarded([this, i] { cbComPortChange(i); }); });
    connect(cbBaudrate, &QComboBox::activated, this, [this](int i) { guarded([this, i] { cbBaudrateChange(i); }); });
    connect(ComboBox1, &QComboBox::activated, this, [this](int i) { guarded([this, i] { ComboBox1Change(i); }); });
    connect(cbAltFiles, &QCheckBox::clicked, this, [this] { guarded([this] { cbAltFilesClick(); }); });
    connect(rbVxMode, &QRadioButton::clicked, this, [this] { guarded([this] { rbVxModeClick(); }); });
    connect(rbBigVxMode, &QRadioButton::clicked, this, [this] { guarded([this] { rbBigVxModeClick(); }); });
    connect(rbKTI30Mode, &QRadioButton::clicked, this, [this] { guarded([this] { rbKTI30ModeClick(); }); });
    connect(btnExit, &QPushButton::clicked, this, &QWidget::close);
}

void TfrmMain::guarded(const std::function<void()>& handler) { RunGuarded(notifier_, handler); }

void TfrmMain::readSettings() {
    // Integers are read in order until one fails; then the defaults replace what was read of
    // the port, baud rate, address, group and device type. The window position read before the
    // failure stays. Texts never fail, so every file path is read whatever happened before:
    // a broken number must not cost the user the paths written back at shutdown.
    bool failed = false;
    auto readInteger = [&](const char* name) -> std::optional<int> {
        if (failed) return std::nullopt;
        const auto v = settings_.readInteger(name);
        if (!v) failed = true;
        return v;
    };
    const QPoint designPosition = pos();
    if (const auto v = readInteger("ComPort")) PortIndex = *v;
    if (const auto v = readInteger("Baudrate")) BaudRate = *v;
    if (const auto v = readInteger("Top")) move(x(), *v);
    if (const auto v = readInteger("Left")) move(*v, y());
    if (const auto v = readInteger("Address")) edAddress->setText(QString::number(*v));
    if (const auto v = readInteger("Group")) edGroup->setText(QString::number(*v));
    FirmwareFile = settings_.readText("FirmwareFile");
    AlteraFile = settings_.readText("AlteraFile");
    bigVxPanel->showFiles(FirmwareFile, AlteraFile);
    tsVarp->edProgram->setText(settings_.readText("VarpProgram"));
    tsBasic->edFilter->setText(settings_.readText("FilterFile"));
    if (const auto v = readInteger("VxMode")) applyDeviceTypeSetting(*v);
    if (failed) applyDefaults();
    tsScope->applySetup(ReadScopeSetup(settings_));

    // A position left from a screen that is no longer there would hide the window.
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens())
        if (screen->availableGeometry().contains(pos())) onScreen = true;
    if (!onScreen) move(designPosition);
}

void TfrmMain::applyDeviceTypeSetting(int vxMode) {
    switch (vxMode) {
        case registers::VX20_95:
            rbVxMode->setChecked(true);
            ComboBox1->setCurrentIndex(0);
            rbVxModeClick();
            break;
        case registers::VX300_700:
            rbBigVxMode->setChecked(true);
            ComboBox1->setCurrentIndex(1);
            rbBigVxModeClick();
            break;
        case registers::KT42:
            rbKTI30Mode->setChecked(true);
            ComboBox1->setCurrentIndex(2);
            rbKTI30ModeClick();
            break;
        case registers::KT56:
            // No hidden selector of its own; the type is applied all the same, so the list and
            // the value written back at shutdown are a KT56's.
            ComboBox1->setCurrentIndex(3);
            setDeviceType(registers::KT56);
            tsBasic->reload(false);
            break;
        default:
            ComboBox1->setCurrentIndex(-1);
            break;
    }
}

void TfrmMain::applyDefaults() {
    PortIndex = 0;
    BaudRate = kDefaultBaudRate;
    edAddress->setText(QString::number(kDefaultAddress));
    edGroup->setText(QString::number(kDefaultGroup));
    ComboBox1->setCurrentIndex(0);
    rbVxMode->setChecked(true);
    rbVxModeClick();
}

void TfrmMain::writeSettings() {
    settings_.writeInteger("ComPort", PortIndex);
    settings_.writeInteger("Top", y());
    settings_.writeInteger("Left", x());
    settings_.writeInteger("Address", sender_.GetAddress());
    settings_.writeInteger("Group", sender_.GetGroup());
    settings_.writeText("FirmwareFile", FirmwareFile);
    settings_.writeText("AlteraFile", AlteraFile);
    settings_.writeInteger("VxMode", DeviceType);
    settings_.writeText("VarpProgram", tsVarp->edProgram->text());
    settings_.writeText("FilterFile", tsBasic->edFilter->text());
    // A rate that is not in the list (set by hand in the settings) is kept as it is.
    bool listed = false;
    const int shown = cbBaudrate->currentText().toInt(&listed);
    settings_.writeInteger("Baudrate", listed && cbBaudrate->currentIndex() >= 0 ? shown : BaudRate);
}

void TfrmMain::FormCreate() {
    tsBasic->reload(false);
    cbComPort->setCurrentIndex(PortIndex >= 0 && PortIndex < cbComPort->count() ? PortIndex : -1);
    cbBaudrate->setCurrentIndex(cbBaudrate->findText(QString::number(BaudRate)));
    created_ = true;
}

void TfrmMain::FormActivate() { tsBasic->reload(false); }

bool TfrmMain::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate && created_) guarded([this] { FormActivate(); });
    return QWidget::event(e);
}

void TfrmMain::beginPortOperation(std::function<void()> cancel) { portOperations_.push_back(std::move(cancel)); }

void TfrmMain::endPortOperation() {
    if (!portOperations_.empty()) portOperations_.pop_back();
    if (portOperations_.empty() && closeWhenIdle_) {
        closeWhenIdle_ = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void TfrmMain::closeEvent(QCloseEvent* e) {
    if (portBusy()) {
        // The operation that owns the port ends first (its cancel makes it quick); the window
        // closes after it, so nothing is left half-done on the device or on the disk.
        e->ignore();
        closeWhenIdle_ = true;
        for (const auto& cancel : portOperations_)
            if (cancel) cancel();
        return;
    }
    QWidget::closeEvent(e);
}

void TfrmMain::stopReceiveThread() {
    if (!thread_) return;
    // The thread may be waiting for this (window) thread to take a sample row; it must not
    // wait while the window waits for its end.
    thread_->Terminate();
    sink_.stopWorkers(true);
    thread_.reset();
    sink_.stopWorkers(false);
}

void TfrmMain::pauseReceiving() {
    if (thread_ && !thread_->Finished()) thread_->Pause();
}

void TfrmMain::resumeReceiving() {
    if (thread_) thread_->Resume();
}

void TfrmMain::ReopenPort() {
    emit portClosing();
    stopReceiveThread();
    sender_.setPort(nullptr);
    port_.reset();
    try {
        port_ = std::make_unique<serial::TSerCom>(PortIndex + 1, BaudRate, kPortBufferSize);
        if (portWatch) port_->SetTap(portWatch->tap());
        // Requests on a port that failed to open fail in their own way ("Error sending").
        sender_.setPort(port_.get());
        port_->Open();
        startReceiveThread();
    } catch (const std::exception& e) {
        std::string text = "Error opening serial port";
        if (const auto* err = dynamic_cast<const serial::TSerErr*>(&e); err && err->Detail[0] != '\0')
            text += std::string("\n") + err->Detail;
        notifier_.warning("Error", text);
    }
    cbComPort->setToolTip(cbComPort->deviceText(PortIndex));
}

void TfrmMain::startReceiveThread() {
    thread_ =
        std::make_unique<protocol::RecvThread>(port_.get(), &sink_, bigVxPanel->downloadHook());
}

void TfrmMain::pauseReceiveThread() {
    if (thread_) thread_->Pause();
}

void TfrmMain::resumeReceiveThread() {
    if (thread_) thread_->Resume();
}

bool TfrmMain::receiving() const { return thread_ && !thread_->Finished() && port_ && port_->IsOpen; }

bool TfrmMain::portLost() const { return !portBusy() && port_ && thread_ && thread_->Finished(); }

void TfrmMain::restartReceiveThread() {
    stopReceiveThread();
    if (!port_ || !port_->IsOpen) return;
    startReceiveThread();
    emit portRestored();
}

void TfrmMain::clearMemos() {
    meRecieved->clear();
    meSend->clear();
}

std::optional<std::string> TfrmMain::askValue(const std::string& registerName) {
    if (!dlgEnterValue) return std::nullopt;
    const auto text = dlgEnterValue->ask(FromCp1252(registerName));
    if (!text) return std::nullopt;
    return ToCp1252(*text);
}

void TfrmMain::readAllRegisters() {
    clearMemos();
    auto& list = tsBasic->list;
    for (int i = 0; i < list.defs.registerCount; ++i) list.RequestRegister(i);
}

void TfrmMain::handleMessage(const protocol::Message& message) {
    guarded([&] { router_->route(message); });
}

void TfrmMain::focusRegisterList() { tsBasic->lbParams->setFocus(); }

void TfrmMain::setDeviceType(int type) {
    DeviceType = type;
    tsBasic->list.deviceType = type;
}

void TfrmMain::cbComPortChange(int index) {
    PortIndex = index;
    ReopenPort();
    focusRegisterList();
}

void TfrmMain::cbBaudrateChange(int index) {
    bool ok = false;
    const int rate = cbBaudrate->itemText(index).toInt(&ok);
    if (ok) BaudRate = rate;
    ReopenPort();
    focusRegisterList();
}

void TfrmMain::ComboBox1Change(int index) {
    setDeviceType(index + 1);
    tsBasic->reload(true);
}

void TfrmMain::cbAltFilesClick() {
    tsBasic->list.altFiles = cbAltFiles->isChecked();
    tsBasic->reload(true);
}

void TfrmMain::rbVxModeClick() {
    setDeviceType(registers::VX20_95);
    tsBasic->reload(false);
}

void TfrmMain::rbBigVxModeClick() {
    setDeviceType(registers::VX300_700);
    tsBasic->reload(false);
}

void TfrmMain::rbKTI30ModeClick() {
    setDeviceType(registers::KT42);
    tsBasic->reload(false);
}

}  // namespace vindelor::app
