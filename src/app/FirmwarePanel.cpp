#include "app/FirmwarePanel.h"

#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "app/Cp1252.h"
#include "app/GuardedApplication.h"
#include "app/PortBusy.h"
#include "app/Winbinform.h"
#include "firmware/Tvxload.h"
#include "serial/TSerErr.h"

namespace vindelor::app {

namespace {

// The error text of an image that cannot be read; the "µ" is the single byte 0xB5.
constexpr char kFileErrorText[] = "(Fejl 1) Fejl ved indl\xB5sning af firmware fil: ";

QPushButton* Button(const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromLatin1(caption));
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

}  // namespace

FirmwarePanel::FirmwarePanel(TfrmMain& form, QWidget* parent)
    : QGroupBox(QStringLiteral("Module firmware"), parent), form_(form) {
    setObjectName(QStringLiteral("gbFirmware"));
    // Not among the stored settings: the field starts empty every time.
    edFirmware = new QLineEdit;
    edFirmware->setObjectName(QStringLiteral("edFirmware"));
    edFirmware->setPlaceholderText(QStringLiteral("Firmware image (.vxf)"));
    btnBrowseFirmware = Button("btnBrowseFirmware", "&Browse...");
    Button14 = Button("Button14", "Load firmware");
    btnCancelFirmware = Button("btnCancelFirmware", "Cancel");
    btnCancelFirmware->setEnabled(false);
    lblFirmStatus = new QLabel;
    lblFirmStatus->setObjectName(QStringLiteral("lblFirmStatus"));
    lblLoaderStatus = new QLabel;
    lblLoaderStatus->setObjectName(QStringLiteral("lblLoaderStatus"));
    pbFirmware = new QProgressBar;
    pbFirmware->setObjectName(QStringLiteral("pbFirmware"));
    pbFirmware->setRange(0, 100);
    pbFirmware->setValue(0);

    auto* grid = new QGridLayout(this);
    grid->addWidget(edFirmware, 0, 0, 1, 2);
    grid->addWidget(btnBrowseFirmware, 0, 2);
    grid->addWidget(Button14, 0, 3);
    grid->addWidget(lblFirmStatus, 1, 0);
    grid->addWidget(lblLoaderStatus, 1, 1);
    grid->addWidget(pbFirmware, 1, 2);
    grid->addWidget(btnCancelFirmware, 1, 3);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 2);

    auto guarded = [this](void (FirmwarePanel::*handler)()) {
        return [this, handler] { RunGuarded(form_.notifier(), [this, handler] { (this->*handler)(); }); };
    };
    connect(Button14, &QPushButton::clicked, this, guarded(&FirmwarePanel::Button14Click));
    connect(btnBrowseFirmware, &QPushButton::clicked, this, guarded(&FirmwarePanel::btnBrowseFirmwareClick));
    connect(btnCancelFirmware, &QPushButton::clicked, this, guarded(&FirmwarePanel::btnCancelFirmwareClick));
}

FirmwarePanel::~FirmwarePanel() = default;

void FirmwarePanel::btnBrowseFirmwareClick() {
    const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("Firmware image"), edFirmware->text(),
                                                      QStringLiteral("Firmware images (*.vxf);;All files (*)"));
    if (!file.isEmpty()) edFirmware->setText(file);
}

void FirmwarePanel::btnCancelFirmwareClick() {
    if (loader_) loader_->Terminate();
    btnCancelFirmware->setEnabled(false);
}

void FirmwarePanel::Button14Click() {
    serial::TSerCom* port = form_.port();
    if (!port) throw serial::TSerErr(serial::TSerErr::Open, "Error opening serial port");
    PortBusy busy(form_, {btnCancelFirmware}, [this] { btnCancelFirmwareClick(); });
    form_.pauseReceiveThread();
    // Whatever ends the update (a file that cannot be read included), the port goes back to
    // 19200 baud and the receive thread goes on: a paused thread would leave the tool deaf.
    struct Restore {
        FirmwarePanel& panel;
        serial::TSerCom& port;
        ~Restore() {
            panel.btnCancelFirmware->setEnabled(false);
            try {
                port.SetBaudRate(kPortBaudAfterUpdate);
                port.Open();
            } catch (const std::exception& e) {
                panel.form_.notifier().warning("Error", ErrorReportText(e));
            }
            panel.form_.resumeReceiveThread();
        }
    } restore {*this, *port};
    btnCancelFirmware->setEnabled(true);
    UpdateModuleFirmware(edFirmware->text());
}

void FirmwarePanel::UpdateModuleFirmware(const QString& fileName) {
    lblFirmStatus->setText(QStringLiteral("Starting update"));
    lblLoaderStatus->clear();
    pbFirmware->setValue(0);
    loader_ = std::make_unique<firmware::TVxLoad>(&form_.messageSink(), form_.port());
    try {
        loader_->ReadImage(QFile::encodeName(fileName).toStdString());
    } catch (const std::exception&) {
        loader_.reset();
        throw serial::TSerErr(0, (kFileErrorText + ToCp1252(fileName)).c_str());
    }
    loader_->ResetWanted = true;
    form_.LoaderState = 0;
    QEventLoop loop;
    loop_ = &loop;
    loader_->Start();
    loop.exec();
    loop_ = nullptr;
    loader_.reset();
}

void FirmwarePanel::onLoaderState(int code, std::int64_t argument) {
    if (!loader_) return;
    lblLoaderStatus->setText(FromCp1252(firmware::LoaderStatusText(code, argument)));
    if (firmware::LoaderStatusHasPercent(code)) pbFirmware->setValue(static_cast<int>(argument));
    switch (code) {
    case firmware::kStatusConnected: lblFirmStatus->setText(QStringLiteral("Connected")); break;
    case firmware::kStatusTransferOk: lblFirmStatus->setText(QStringLiteral("Transferring")); break;
    case firmware::kStatusDone:
        lblFirmStatus->setText(QStringLiteral("Transfer Done"));
        pbFirmware->setValue(100);
        break;
    case firmware::kStatusFailed: lblFirmStatus->setText(QStringLiteral("Failed")); break;
    case firmware::kStatusAborted: lblFirmStatus->setText(QStringLiteral("Aborted!")); break;
    default: break;
    }
    if ((code == firmware::kStatusDone || code == firmware::kStatusFailed || code == firmware::kStatusAborted) && loop_)
        loop_->quit();
}

}  // namespace vindelor::app
