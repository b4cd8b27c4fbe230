#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/QtMessageSink.h"
#include "app/SettingsStore.h"
#include "protocol/Notifier.h"
#include "protocol/RecvThread.h"
#include "protocol/Sender.h"
#include "serial/TSerCom.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace vindelor::app {

class BasicTab;
class BigVxPanel;
class NcxBootPanel;
class FirmwarePanel;
class GroupModuleTab;
class HiddenTabs;
class MessageRouter;
class ModuleLogPanel;
class MotorTestPanel;
class PortComboBox;
class ProfiTab;
class RxTab;
class PortWatch;
class ScopeTab;
class TdlgEnterValue;
class VarpTab;

// The main window: the top row (device type, port, baud rate, address, group), the tabs, and
// the "Send" and "Recieved" memos. It owns the serial port, the receive thread and the
// settings for its whole life, and routes the messages of worker threads to the tabs.
class TfrmMain : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWindowWidth = 731;
    static constexpr int kWindowHeight = 595;
    static constexpr int kMinimumHeight = 400;
    static constexpr int kPortBufferSize = 8000;
    static constexpr int kReceivedMemoLimit = 250;
    static constexpr int kDefaultBaudRate = 19200;
    static constexpr int kDefaultAddress = 255;
    static constexpr int kDefaultGroup = 1;

    // Message boxes go through notifier, which must outlive the window.
    explicit TfrmMain(protocol::Notifier& notifier, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Stops the receive thread, replaces the port by a new one on PortIndex + 1 at BaudRate and
    // starts a new thread on it; "Error opening serial port" when that fails.
    void ReopenPort();
    // True while a receive thread runs on an open port.
    bool receiving() const;
    // The receive thread ended on its own (the port hung up) and no operation owns the port.
    bool portLost() const;
    // Starts a new receive thread on the (reopened) port.
    void restartReceiveThread();

    protocol::Sender& sender() { return sender_; }
    protocol::Notifier& notifier() { return notifier_; }
    protocol::MessageSink& messageSink() { return sink_; }
    serial::TSerCom* port() const { return port_.get(); }
    // The receive thread, or null when the port did not open.
    protocol::RecvThread* receiveThread() const { return thread_.get(); }

    void clearMemos();
    // The value-entry dialog; nothing when it is not there or was not closed with OK.
    std::optional<std::string> askValue(const std::string& registerName);
    // Reads every register of the list once (the demo fills its list this way).
    void readAllRegisters();

    // Kept by PortBusy: while an operation owns the port, a close request runs its cancel
    // and the window closes when the last operation has ended.
    void beginPortOperation(std::function<void()> cancel);
    // Lends the port to an operation: the receive thread parks between frames, and goes on.
    void pauseReceiveThread();
    void resumeReceiveThread();
    void endPortOperation();
    bool portBusy() const { return !portOperations_.empty(); }

    // Lends the port to an operation that talks to it itself: the receive thread parks between
    // frames until resumeReceiving(). Nothing happens when no receive thread runs.
    void pauseReceiving();
    void resumeReceiving();

    // The handler of every message from a worker thread, on the window thread.
    void handleMessage(const protocol::Message& message);
    // Runs a handler of a user action; an error it throws becomes a message box.
    void guarded(const std::function<void()>& handler);

    // Set after construction; one dialog serves the program's whole life.
    TdlgEnterValue* dlgEnterValue = nullptr;

    int PortIndex = 0;
    int BaudRate = kDefaultBaudRate;
    int DeviceType = 1;
    int LoaderState = 0;
    // File paths of the large-motor tab, kept in the settings.
    QString FirmwareFile;
    QString AlteraFile;

    QComboBox* ComboBox1;
    QCheckBox* cbAltFiles;
    PortComboBox* cbComPort;
    QComboBox* cbBaudrate;
    QLineEdit* edAddress;
    QLineEdit* edGroup;
    QLabel* Label4;
    QTabWidget* PageControl1;
    BasicTab* tsBasic;
    QWidget* tsPicoPLC;
    QWidget* tsProfi;
    QWidget* tsBigVx;
    QWidget* tsVXM_NC;
    BigVxPanel* bigVxPanel;      // the large motor's tools on tsBigVx
    NcxBootPanel* ncxBootPanel;  // the bootloader tools on tsVXM_NC
    VarpTab* tsVarp;
    QWidget* tsFS;
    ScopeTab* tsScope;
    PortWatch* portWatch = nullptr;
    QPushButton* stPingModule;
    FirmwarePanel* firmwarePanel;
    // The expansion-module tools: the tabs above as their own classes, and the panels on
    // tsVXM_NC and tsBigVx.
    RxTab* rxTab;
    ProfiTab* profiTab;
    GroupModuleTab* fsTab;
    ModuleLogPanel* moduleLog;
    MotorTestPanel* motorTests;
    QPlainTextEdit* meSend;
    QPlainTextEdit* meRecieved;
    QPushButton* btnExit;
    QRadioButton* rbVxMode;
    QRadioButton* rbBigVxMode;
    QRadioButton* rbKTI30Mode;

signals:
    // The port object is about to be closed, replaced or destroyed (a port change, the end of
    // the window): whatever uses it on its own lets go of it now.
    void portClosing();
    // The port was lost and has opened again; the receive thread runs on it.
    void portRestored();

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
  // The one way a receive thread starts on port_, with the large motor's download hook, so
  // a motor in boot mode is served after every path that restarts the thread.
  void startReceiveThread();
  void buildControls();
  void readSettings();
  void applyDefaults();
  void applyDeviceTypeSetting(int vxMode);
  void writeSettings();
  void FormCreate();
  void FormActivate();
  void stopReceiveThread();
  void setDeviceType(int type);
  void focusRegisterList();

  void cbComPortChange(int index);
  void cbBaudrateChange(int index);
  void ComboBox1Change(int index);
  void cbAltFilesClick();
  void rbVxModeClick();
  void rbBigVxModeClick();
  void rbKTI30ModeClick();

  protocol::Notifier& notifier_;
  SettingsStore settings_;
  protocol::Sender sender_;
  QtMessageSink sink_;
  std::unique_ptr<serial::TSerCom> port_;
  std::unique_ptr<protocol::RecvThread> thread_;
  std::vector<std::function<void()>> portOperations_;  // the cancel of each running one
  bool closeWhenIdle_ = false;
  std::unique_ptr<MessageRouter> router_;
  HiddenTabs* hiddenTabs_ = nullptr;  // a child of the window
  bool created_ = false;
};

}  // namespace vindelor::app
