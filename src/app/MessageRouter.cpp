#include "app/MessageRouter.h"

#include <QPlainTextEdit>
#include <QTextCursor>

#include <string>

#include "app/BasicTab.h"
#include "app/BigVxPanel.h"
#include "app/Cp1252.h"
#include "app/FirmwarePanel.h"
#include "app/GroupModuleTab.h"
#include "app/ProfiTab.h"
#include "app/RxTab.h"
#include "app/ScopeTab.h"
#include "app/VarpTab.h"
#include "app/Winbinform.h"
#include "protocol/ByteText.h"

namespace vindelor::app {

void MessageRouter::route(const protocol::Message& message) {
    TfrmMain& w = window_;
    switch (message.number) {
        case protocol::MsgRegisterValue:
            w.tsBasic->list.onRegisterValue(static_cast<int>(message.wParam),
                                            static_cast<std::uint32_t>(message.lParam));
            break;
        case protocol::MsgReceivedByte:
            appendReceived(message.wParam);
            break;
        case protocol::MsgSampleRow:
            // While the scope runs its rows are its own.
            if (!w.tsScope || !w.tsScope->onSampleRow(message.payload))
                w.tsBasic->list.addSampleRow(message.payload);
            break;
        case protocol::MsgModuleInfo:
            w.tsVarp->onModuleInfo(message.payload);
            break;
        case protocol::MsgProgress:
            w.bigVxPanel->onProgress(static_cast<int>(message.wParam));
            break;
        case protocol::MsgErrorBox: {
            const std::string text(message.text);
            const std::string caption =
                message.payload.empty()
                    ? std::string("Error")
                    : std::string(message.payload.begin(), message.payload.end());
            if (message.wParam)
                w.notifier().warning(caption, text);
            else
                w.notifier().information(caption, text);
            break;
        }
        case protocol::MsgDebugInfo:
            w.rxTab->onDebugInfo(message.payload);
            break;
        case protocol::MsgFieldbusData:
            w.profiTab->onFieldbusData(message.payload);
            break;
        case protocol::MsgDebugData:
            w.profiTab->onDebugData(message.payload);
            break;
        case protocol::MsgModuleStatus:
            w.fsTab->onModuleStatus(message.payload);
            break;
        case protocol::MsgModuleRegister:
            w.fsTab->onModuleRegister(static_cast<int>(message.wParam),
                                      static_cast<std::uint32_t>(message.lParam));
            break;
        case protocol::MsgLoaderState:
            w.LoaderState = static_cast<int>(message.wParam);
            w.firmwarePanel->onLoaderState(w.LoaderState, message.lParam);
            break;
        default:
            break;
    }
}

void MessageRouter::appendReceived(std::int64_t value) {
    QPlainTextEdit* memo = window_.meRecieved;
    if (memo->document()->characterCount() - 1 >= TfrmMain::kReceivedMemoLimit) return;
    QString text;
    if (value >= 0 && value < 256)
        text = FromCp1252(protocol::ByteText(static_cast<std::uint8_t>(value)));
    else if (value == protocol::kLoadedMarker)
        text = QStringLiteral("<Loaded>");
    else
        return;
    QTextCursor cursor(memo->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
}

}  // namespace vindelor::app
