#include "app/BigVxPanel.h"

#include <QCheckBox>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include "app/GuardedApplication.h"
#include "app/PortBusy.h"
#include "app/PortJob.h"
#include "app/Winbinform.h"
#include "largemotor/BootCommands.h"
#include "largemotor/Download.h"
#include "serial/TSerErr.h"

namespace vindelor::app {

namespace {

using namespace vindelor::largemotor;

// A developer's default for the XC164 flash bootloader.
constexpr const char* kDefaultFlashFile = "C:\\Projekter\\XC164\\FlashBoot\\flashboot.h86";

QPushButton* Button(const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromLatin1(caption));
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

QLineEdit* Edit(const char* name, const QString& text = {}) {
    auto* e = new QLineEdit(text);
    e->setObjectName(QString::fromLatin1(name));
    return e;
}

std::string FileName(const QLineEdit* edit) { return QFile::encodeName(edit->text()).toStdString(); }

// A pause of the window thread that keeps the window painting (input waits meanwhile).
void WindowPause(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void AppendLine(QPlainTextEdit* memo, const QString& line) { memo->appendPlainText(line); }

}  // namespace

BigVxPanel::BigVxPanel(TfrmMain& form) : form_(form) {
    setObjectName(QStringLiteral("BigVxPanel"));
    edFirmwareFile = Edit("edFirmwareFile");
    btnBrowse = Button("btnBrowse", "&Browse...");
    edAlteraFile = Edit("edAlteraFile");
    btnBrowse2 = Button("btnBrowse2", "B&rowse...");
    cbLoadAltera = new QCheckBox(QStringLiteral("Load Altera"));
    cbLoadAltera->setObjectName(QStringLiteral("cbLoadAltera"));
    pbProgress = new QProgressBar;
    pbProgress->setObjectName(QStringLiteral("pbProgress"));
    pbProgress->setRange(0, 100);
    pbProgress->setValue(0);
    edFlashFile = Edit("edFlashFile", QString::fromLatin1(kDefaultFlashFile));
    edDataAddress = Edit("edDataAddress", QStringLiteral("0xc00000"));
    udEraseSec = new QSpinBox;
    udEraseSec->setObjectName(QStringLiteral("udEraseSec"));
    udEraseSec->setRange(0, kEraseSectorMax);
    udEraseSec->setValue(0);
    if (auto* edit = udEraseSec->findChild<QLineEdit*>()) edit->setObjectName(QStringLiteral("edEraseSec"));
    lblReadCount = new QLabel;
    lblReadCount->setObjectName(QStringLiteral("lblReadCount"));
    lblReadCount->setMinimumWidth(120);
    Button5 = Button("Button5", "Ping");
    btnEraseSector = Button("btnEraseSector", "Erase Sec");
    Button7 = Button("Button7", "Read");
    btnWriteTest = Button("btnWriteTest", "Write");
    btnBootActivate = Button("btnBootActivate", "Boot Activate");
    btnBootActive = Button("btnBootActive", "Boot Activate XC164");
    Button10 = Button("Button10", "Set 57600 Baud");
    btnReadFlash = Button("btnReadFlash", "Read Flash");
    btnWriteFlash = Button("btnWriteFlash", "Write Flash");
    btnAddrCheck = Button("btnAddrCheck", "Address check");
    btnCancelFlash = Button("btnCancelFlash", "Cancel");
    btnCancelFlash->setEnabled(false);

    auto* files = new QGridLayout;
    files->addWidget(new QLabel(QStringLiteral("Firmware")), 0, 0);
    files->addWidget(edFirmwareFile, 0, 1);
    files->addWidget(btnBrowse, 0, 2);
    files->addWidget(new QLabel(QStringLiteral("Altera")), 1, 0);
    files->addWidget(edAlteraFile, 1, 1);
    files->addWidget(btnBrowse2, 1, 2);
    files->addWidget(cbLoadAltera, 2, 1);
    files->addWidget(pbProgress, 3, 1, 1, 2);
    files->addWidget(new QLabel(QStringLiteral("Flash file")), 4, 0);
    files->addWidget(edFlashFile, 4, 1, 1, 2);

    // The panel shares its page with the motor tests: the buttons go in short rows, so each
    // shows its whole caption at the window's size.
    auto row = [](std::initializer_list<QWidget*> widgets) {
        auto* r = new QHBoxLayout;
        for (QWidget* w : widgets) r->addWidget(w);
        r->addStretch();
        return r;
    };
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(files);
    layout->addLayout(row({Button5, btnEraseSector, udEraseSec}));
    layout->addLayout(row({Button7, btnWriteTest, new QLabel(QStringLiteral("Address")), edDataAddress}));
    layout->addLayout(row({btnBootActivate, btnBootActive, Button10}));
    layout->addLayout(row({btnReadFlash, btnWriteFlash, btnAddrCheck, btnCancelFlash}));
    layout->addLayout(row({new QLabel(QStringLiteral("KBytes read:")), lblReadCount}));
    layout->addStretch();

    connect(edFirmwareFile, &QLineEdit::textChanged, this, [this](const QString& text) {
        form_.FirmwareFile = text;
        std::lock_guard lock(filesMutex_);
        firmwareFile_ = QFile::encodeName(text).toStdString();
    });
    connect(edAlteraFile, &QLineEdit::textChanged, this, [this](const QString& text) {
        form_.AlteraFile = text;
        std::lock_guard lock(filesMutex_);
        alteraFile_ = QFile::encodeName(text).toStdString();
    });
    const std::pair<QPushButton*, void (BigVxPanel::*)()> handlers[] = {
        {btnBrowse, &BigVxPanel::btnBrowseClick},         {btnBrowse2, &BigVxPanel::btnBrowse2Click},
        {Button5, &BigVxPanel::Button5Click},             {btnEraseSector, &BigVxPanel::btnEraseSectorClick},
        {Button7, &BigVxPanel::Button7Click},             {btnWriteTest, &BigVxPanel::btnWriteTestClick},
        {btnBootActivate, &BigVxPanel::btnBootActivateClick}, {btnBootActive, &BigVxPanel::btnBootActiveClick},
        {Button10, &BigVxPanel::Button10Click},           {btnReadFlash, &BigVxPanel::btnReadFlashClick},
        {btnWriteFlash, &BigVxPanel::btnWriteFlashClick}, {btnAddrCheck, &BigVxPanel::btnAddrCheckClick},
        {btnCancelFlash, &BigVxPanel::btnCancelFlashClick},
    };
    for (const auto& [button, handler] : handlers)
        connect(button, &QPushButton::clicked, this, [this, h = handler] { guarded([this, h] { (this->*h)(); }); });
    connect(cbLoadAltera, &QCheckBox::clicked, this, [this] { guarded([this] { cbLoadAlteraClick(); }); });
    // The receive thread is about to be stopped (the window goes): a download on it ends at its
    // next piece, and the port is no longer held for it.
    connect(&form_, &TfrmMain::portClosing, this, [this] {
        cancel_ = true;
        downloadEnded();
    });
}

BigVxPanel::~BigVxPanel() = default;

void BigVxPanel::guarded(const std::function<void()>& handler) { RunGuarded(form_.notifier(), handler); }

void BigVxPanel::showFiles(const QString& firmware, const QString& altera) {
    edFirmwareFile->setText(firmware);
    edAlteraFile->setText(altera);
}

protocol::RecvThread::DownloadHook BigVxPanel::downloadHook() {
    return [this](serial::TSerCom& p, protocol::MessageSink& window, bool loadFpga) {
        SinkNotifier boxes(window);
        const DownloadFiles files {[this] {
                                       std::lock_guard lock(filesMutex_);
                                       return firmwareFile_;
                                   },
                                   [this] {
                                       std::lock_guard lock(filesMutex_);
                                       return alteraFile_;
                                   }};
        // The download owns the port like every other long job: the window's senders wait (a
        // pause of the receive thread would wait for the whole download), and "Cancel" or a
        // close request ends it between pieces.
        cancel_ = false;
        PostToWindow(this, [this] { downloadStarted(); });
        DownloadFirmware(p, window, boxes, loadFpga, files, RealSleep, &cancel_);
        PostToWindow(this, [this] { downloadEnded(); });
    };
}

void BigVxPanel::downloadStarted() {
    if (downloadBusy_) return;
    btnCancelFlash->setEnabled(true);
    downloadBusy_ = std::make_unique<PortBusy>(
        form_, std::initializer_list<QWidget*>{btnCancelFlash}, [this] { cancel_ = true; });
}

void BigVxPanel::downloadEnded() {
    btnCancelFlash->setEnabled(false);
    downloadBusy_.reset();
}

bool BigVxPanel::downloading() const {
    return downloadBusy_ != nullptr;
}

void BigVxPanel::onProgress(int percent) { pbProgress->setValue(percent); }

serial::TSerCom& BigVxPanel::port() {
    if (!form_.port()) throw serial::TSerErr(serial::TSerErr::Io, "Error sending char");
    return *form_.port();
}

ToolContext BigVxPanel::toolContext() {
    ToolContext ctx {port(), form_.receiveThread(), &form_.messageSink(), sleep, &cancel_};
    return ctx;
}

std::uint32_t BigVxPanel::dataAddress() {
    const auto address = ParseDataAddress(edDataAddress->text().trimmed().toStdString());
    if (!address) throw serial::TSerErr(serial::TSerErr::Open, "Invalid number");
    return *address;
}

void BigVxPanel::sendBytes(const std::vector<std::uint8_t>& bytes) {
    serial::TSerCom& p = port();
    for (auto b : bytes) p.SendChar(b);
}

void BigVxPanel::btnBrowseClick() {
    QFileDialog dialog(this, QString(), edFirmwareFile->text(), QStringLiteral("Binary files (*.bin);;All files (*.*)"));
    dialog.setObjectName(QStringLiteral("odFirmware"));
    dialog.setDefaultSuffix(QStringLiteral("bin"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.selectFile(edFirmwareFile->text());
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        edFirmwareFile->setText(dialog.selectedFiles().first());
}

void BigVxPanel::btnBrowse2Click() {
    QFileDialog dialog(this, QString(), edAlteraFile->text(), QStringLiteral("HEX files (*.hex);;All files (*.*)"));
    dialog.setObjectName(QStringLiteral("odAltera"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.selectFile(edAlteraFile->text());
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        edAlteraFile->setText(dialog.selectedFiles().first());
}

void BigVxPanel::cbLoadAlteraClick() {
    if (auto* thread = form_.receiveThread()) thread->LoadFpga = cbLoadAltera->isChecked();
}

void BigVxPanel::Button5Click() { sendBytes(PingCommand()); }

void BigVxPanel::btnEraseSectorClick() { sendBytes(EraseSectorCommand(udEraseSec->value())); }

void BigVxPanel::Button7Click() {
    constexpr std::uint16_t kReadBytes = 32;
    sendBytes(ReadCommand(dataAddress(), kReadBytes));
}

void BigVxPanel::btnWriteTestClick() {
    const auto block = PrepareFlashBlock(FileName(edFlashFile));
    const std::uint32_t address = dataAddress();
    sendBytes(BootFrame(Boot::Write, AddressAndLength(address, kFlashBlockData)));
    sendBytes({block.begin(), block.end()});
}

void BigVxPanel::btnBootActivateClick() { sendBytes(WakeBytes(kWakeBoot)); }

void BigVxPanel::btnBootActiveClick() {
    form_.meRecieved->clear();
    sendBytes(WakeBytes(kWakeXC164));
}

void BigVxPanel::Button10Click() {
    sendBytes(SetBaudCommand(kBaudIndex57600));
    PortBusy busy(form_);
    WindowPause(kSetBaudSettleMs);
    port().SetBaudRate(kBootBaud);
}

void BigVxPanel::runCancellable(const std::function<void()>& job) {
    cancel_ = false;
    btnCancelFlash->setEnabled(true);
    PortBusy busy(form_, {btnCancelFlash}, [this] { cancel_ = true; });
    struct Disable {
        QPushButton* b;
        ~Disable() { b->setEnabled(false); }
    } disable {btnCancelFlash};
    RunPortJob(job);
}

void BigVxPanel::btnReadFlashClick() {
    ToolContext ctx = toolContext();
    lblReadCount->clear();
    runCancellable([&] {
        ReadFlashToFile(ctx, kFlashReadFile, [this](std::uint32_t n) {
            PostToWindow(lblReadCount, [label = lblReadCount, n] { label->setText(QString::fromStdString(ReadCountText(n))); });
        });
    });
}

void BigVxPanel::btnWriteFlashClick() {
    ToolContext ctx = toolContext();
    const std::string file = FileName(edFlashFile);
    PortBusy busy(form_);
    pbProgress->setValue(0);
    bool read = false;
    RunPortJob([&] {
        read = WriteFlash(ctx, file, [this](std::size_t n) {
            PostToWindow(pbProgress, [bar = pbProgress, n] { bar->setValue(static_cast<int>(n * 100 / kFlashFileImage)); });
        });
    });
    if (!read) form_.notifier().warning("Error", "Error loading flash file");
}

void BigVxPanel::btnAddrCheckClick() {
    ToolContext ctx = toolContext();
    QPlainTextEdit* memo = form_.meRecieved;
    runCancellable([&] {
        AddressCheck(
            ctx, addressCheck_,
            [memo](const std::string& line) { PostToWindow(memo, [memo, t = QString::fromStdString(line)] { AppendLine(memo, t); }); },
            [this](std::uint32_t address) {
                PostToWindow(lblReadCount, [label = lblReadCount, address] {
                    label->setText(QString::fromStdString(AddressText(address)));
                });
            });
    });
}

void BigVxPanel::btnCancelFlashClick() { cancel_ = true; }

}  // namespace vindelor::app
