// The "VARP" tab against the simulated module: ping, "Get Info" with the status reply shown,
// and "Write Program" with its chunks.
#include <QDir>

#include "WindowFixture.h"
#include "program/VarpModule.h"

using vindelor::app::VarpTab;

class VarpTabTest : public WindowFixture {
    Q_OBJECT

    VarpTab& varp() { return *window_->tsVarp; }

    // The request frames of one letter the device has taken, as their body bytes.
    std::vector<Bytes> bodies(std::uint8_t letter) {
        std::vector<Bytes> out;
        for (const auto& f : device_->frames())
            if (f.letter == letter) out.push_back(f.body);
        return out;
    }

private slots:
    void init() {
        setUpWindowTest();
        // The program write rebuilds its log in the current folder: a folder of the test's own,
        // with a copy of the definition files the window reads from there.
        QDir defs(QStringLiteral(VINDELOR_SOURCE_DIR "/defs"));
        for (const QString& name : defs.entryList({QStringLiteral("*.dat")}, QDir::Files))
            QVERIFY(QFile::copy(defs.filePath(name), folder_->filePath(name)));
        QVERIFY(QDir::setCurrent(folder_->path()));
    }
    void cleanup() { tearDownWindowTest(); }

    void startsWithNopShownAndNothingChosen() {
        open();
        QCOMPARE(varp().lblVarpInfo->text(), QStringLiteral("Status:"));
        QCOMPARE(varp().cbCommand->currentText(), QStringLiteral("NOP"));
        QCOMPARE(varp().cbCommand->currentIndex(), -1);
        QCOMPARE(varp().cbCommand->count(), 7);
    }

    void typedTextChoosesAMatchingCommandOrNone_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("chosen");
        QTest::addColumn<int>("codeSent");
        QTest::newRow("a command's name") << "Stop" << 2 << 2;
        QTest::newRow("in another case") << "single step" << 4 << 4;
        QTest::newRow("no command's name") << "Go" << -1 << 0xFF;
        QTest::newRow("nothing") << "" << -1 << 0xFF;
    }

    void typedTextChoosesAMatchingCommandOrNone() {
        QFETCH(QString, typed);
        QFETCH(int, chosen);
        QFETCH(int, codeSent);
        TfrmMain& w = open();
        QComboBox* box = varp().cbCommand;
        box->setCurrentIndex(1);  // "Start" chosen before
        box->lineEdit()->selectAll();
        QTest::keyClick(box->lineEdit(), Qt::Key_Backspace);
        QTest::keyClicks(box->lineEdit(), typed);
        QCOMPARE(box->currentIndex(), chosen);
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        QCOMPARE(box->currentIndex(), chosen);
        QCOMPARE(box->count(), 7);
        QTest::mouseClick(varp().btnGetInfo, Qt::LeftButton);
        QCOMPARE(w.meSend->toPlainText(), Echo({0x61, 0x61, 0x61, 0xFF, 0x00, 0x01, 0xFE,
                                                static_cast<std::uint8_t>(codeSent),
                                                static_cast<std::uint8_t>(~codeSent), 0xAA, 0xAA}));
        QCOMPARE(box->count(), 7);
    }

    void pingSendsTheModuleRequestFromBothTabs() {
        TfrmMain& w = open();
        for (QPushButton* button : {varp().btnPingModule, w.stPingModule}) {
            w.meSend->setPlainText(QStringLiteral("old"));
            QTest::mouseClick(button, Qt::LeftButton);
            QCOMPARE(w.meSend->toPlainText(), Echo({0x5F, 0x5F, 0x5F, 0xFF, 0x00, 0xAA, 0xAA}));
        }
    }

    void getInfoBeforeAnyChoiceSendsFFAndShowsTheStatus() {
        TfrmMain& w = open();
        device_->setModuleInfo({9, 0x34, 0x12, 3, 0, 0, 0x12, 0x00});
        QTest::mouseClick(varp().btnGetInfo, Qt::LeftButton);
        QCOMPARE(w.meSend->toPlainText(),
                 Echo({0x61, 0x61, 0x61, 0xFF, 0x00, 0x01, 0xFE, 0xFF, 0x00, 0xAA, 0xAA}));
        QCOMPARE(varp().cbCommand->currentIndex(), 0);
        QCOMPARE(varp().cbCommand->currentText(), QStringLiteral("NOP"));
        QTRY_COMPARE_WITH_TIMEOUT(varp().lblVarpInfo->text(),
                                  QStringLiteral("Program state\t: 9\nProgram pointer\t: 4660\n"
                                                 "Stack pointer\t: 3\nInputs\t: 0b0000'0000'0001'0010\n"),
                                  kWait);
    }

    void setOutputsSendsTheOutputsByteAndStaysChosen() {
        TfrmMain& w = open();
        varp().cbCommand->setCurrentIndex(5);
        varp().cbOut[0]->setChecked(true);
        QTest::mouseClick(varp().btnGetInfo, Qt::LeftButton);
        QCOMPARE(w.meSend->toPlainText(),
                 Echo({0x61, 0x61, 0x61, 0xFF, 0x00, 0x02, 0xFD, 0x05, 0xFA, 0xE1, 0x1E, 0xAA, 0xAA}));
        QCOMPARE(varp().cbCommand->currentIndex(), 5);
    }

    void writeProgramSendsTheFileInChunksAndWritesTheLog() {
        TfrmMain& w = open();
        QFile file(folder_->filePath(QStringLiteral("program.bin")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(129, '\x07'));
        file.close();
        varp().edProgram->setText(file.fileName());
        QTest::mouseClick(varp().btnWriteProgram, Qt::LeftButton);
        QVERIFY(varp().btnWriteProgram->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(bodies('b').size(), std::size_t {2}, kWait);
        const auto chunks = bodies('b');
        QCOMPARE(chunks[0].size(), std::size_t {2 + 128});
        QCOMPARE(chunks[0][0], std::uint8_t {129});
        QCOMPARE(chunks[0][1], std::uint8_t {0});
        QCOMPARE(chunks[1], (Bytes {2, 1, 0x07}));
        QVERIFY(QFile::exists(QStringLiteral("VarpWare.Log")));
        QCOMPARE(Boxes(boxes_), QStringList());
        Q_UNUSED(w);
    }

    void aMissingProgramFileIsShownAndNothingIsSent() {
        open();
        varp().edProgram->setText(folder_->filePath(QStringLiteral("missing.bin")));
        QTest::mouseClick(varp().btnWriteProgram, Qt::LeftButton);
        QCOMPARE(boxes_.boxes.size(), std::size_t {1});
        QVERIFY2(QString::fromStdString(boxes_.boxes[0]).contains(QStringLiteral("missing.bin")),
                 boxes_.boxes[0].c_str());
        QTest::qWait(100);
        QVERIFY(bodies('b').empty());
    }

    void theProgramPathIsKeptInTheSettings() {
        storeSettings({{"VarpProgram", "/tmp/prog.bin"}});
        open();
        QCOMPARE(varp().edProgram->text(), QStringLiteral("/tmp/prog.bin"));
        varp().edProgram->setText(QStringLiteral("/tmp/other.bin"));
        close();
        QSettings s(QStringLiteral("Kyvane"), QStringLiteral("Tambrel"));
        QCOMPARE(s.value("VarpProgram").toString(), QStringLiteral("/tmp/other.bin"));
    }
};

QTEST_MAIN(VarpTabTest)
#include "VarpTab_test.moc"
