// The "VxBasic" tab against the simulated VX20-95: the register list keys with the bytes in the
// "Send" memo and the replies in the list, samples, the device buttons, the received-bytes memo
// and "Load filter".
#include "WindowFixture.h"

class BasicTabTest : public WindowFixture {
    Q_OBJECT

private slots:
    void initTestCase() { enterDefinitionFolder(); }
    void init() { setUpWindowTest(); }
    void cleanup() { tearDownWindowTest(); }

    void keyRReadsTheSelectedRegister_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<std::uint32_t>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("version") << "FIRMWARE" << 0x8000u + (1u << 6) + 28u
                                 << " 20:FIRMWARE                  1.28        Version";
        QTest::newRow("fixed4") << "KP" << 0x1800u << " 16:KP                        1.5000000  Fixed4 ";
        QTest::newRow("two words") << "SERIAL" << 123456u << " 21:SERIAL               123456          Longword";
    }

    void keyRReadsTheSelectedRegister() {
        QFETCH(QString, name);
        QFETCH(std::uint32_t, value);
        const std::string reg = name.toStdString();
        TfrmMain& w = open();
        const int number = numberOf(reg.c_str());
        device_->setValue(number, value);
        w.meSend->setPlainText("old");
        select(reg.c_str());
        QTest::keyClick(tab().lbParams, 'R');
        QFETCH(QString, expected);
        QTRY_COMPARE_WITH_TIMEOUT(line(reg.c_str()), expected, kWait);
        QCOMPARE(w.meSend->toPlainText(), Echo(vindelor::protocol::BuildReadRequest(255, number)));

        const int words = device_->width(number);
        Bytes body {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(2 * words)};
        for (int i = 0; i < 2 * words; ++i) body.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        Bytes reply;
        vindelor::sim::AppendReplyFrame(reply, 'R', body);
        QTRY_COMPARE_WITH_TIMEOUT(w.meRecieved->toPlainText(), Echo(reply), kWait);
        QCOMPARE(Boxes(boxes_), QStringList());
    }

    void keyWWritesTheTypedValueAndReadsItBack_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<std::uint32_t>("stored");
        QTest::addColumn<QString>("expected");
        QTest::newRow("fixed4") << "KP" << "-2.5" << 0xD800u << " 16:KP                       -2.5000000  Fixed4 ";
        QTest::newRow("two words") << "SERIAL" << "123456" << 123456u
                                   << " 21:SERIAL               123456          Longword";
        QTest::newRow("word") << "MODE" << "2" << 2u << "  1:MODE                      2          Word   ";
    }

    void keyWWritesTheTypedValueAndReadsItBack() {
        QFETCH(QString, name);
        QFETCH(QString, typed);
        QFETCH(std::uint32_t, stored);
        const std::string reg = name.toStdString();
        TfrmMain& w = open();
        const int number = numberOf(reg.c_str());
        const int words = tab().list.defs.registerTable[static_cast<std::size_t>(indexOf(reg.c_str()))].words;
        select(reg.c_str());
        QString shownName;
        answerDialog(typed, &shownName);
        // The wait between the write and the read-back keeps the event loop turning.
        int ticksAfterTheDialog = 0;
        QTimer ticker;
        ticker.setInterval(5);
        connect(&ticker, &QTimer::timeout, this, [&] {
            if (!shownName.isEmpty() && !dialog_->isVisible()) ++ticksAfterTheDialog;
        });
        ticker.start();
        QTest::keyClick(tab().lbParams, 'W');
        ticker.stop();
        QVERIFY(ticksAfterTheDialog > 0);
        QCOMPARE(shownName.trimmed(), name);
        QTRY_COMPARE_WITH_TIMEOUT(device_->value(number), stored, kWait);
        QFETCH(QString, expected);
        QTRY_COMPARE_WITH_TIMEOUT(line(reg.c_str()), expected, kWait);
        // The write, the pause, then the read-back, all in the "Send" memo.
        const std::uint32_t raw = stored;
        QCOMPARE(w.meSend->toPlainText(), Echo(vindelor::protocol::BuildWriteRequest(255, number, words, raw)) +
                                              Echo(vindelor::protocol::BuildReadRequest(255, number)));
        QCOMPARE(Boxes(boxes_), QStringList());
    }

    void keyWWithoutAUsableValueSendsNothing_data() {
        QTest::addColumn<std::optional<QString>>("typed");
        QTest::addColumn<QStringList>("boxes");
        QTest::newRow("dialog cancelled") << std::optional<QString>() << QStringList();
        QTest::newRow("not a number") << std::optional<QString>("12x")
                                      << QStringList {"warning|Error|Invalid number"};
    }

    void keyWWithoutAUsableValueSendsNothing() {
        QFETCH(std::optional<QString>, typed);
        TfrmMain& w = open();
        device_->clearFrames();
        select("KP");
        w.meSend->setPlainText("<00>");
        answerDialog(typed);
        QTest::keyClick(tab().lbParams, 'W');
        QTEST(Boxes(boxes_), "boxes");
        QCOMPARE(w.meSend->toPlainText(), QStringLiteral("<00>"));
        QTest::qWait(200);
        QVERIFY(sim_->received().empty());
    }

    void keyWOnAPlaceholderOpensNoDialog() {
        open();
        const auto& defs = tab().list.defs;
        int placeholder = -1;
        for (int i = 0; i < defs.registerCount && placeholder < 0; ++i)
            if (defs.registerTable[static_cast<std::size_t>(i)].type == 0) placeholder = i;
        QVERIFY(placeholder >= 0);
        tab().lbParams->setCurrentRow(placeholder);
        QTest::keyClick(tab().lbParams, 'W');  // a dialog would block here and the test time out
        QVERIFY(sim_->received().empty());
    }

    void samplesFillTheTableAndClearSamplesRestartsTheNumbering() {
        TfrmMain& w = open();
        const int base = tab().list.defs.sampleBase;
        QTest::keyClick(tab().lbParams, 'S');
        QTreeWidget* samples = tab().lvSample;
        QTRY_COMPARE_WITH_TIMEOUT(samples->topLevelItemCount(), 1, kWait);
        Bytes first;
        for (int k = 0; k < 4; ++k) {
            const Bytes r = vindelor::protocol::BuildReadRequest(255, base + k);
            first.insert(first.end(), r.begin(), r.end());
        }
        const Bytes sample = vindelor::protocol::BuildCommand(255, 'S');
        first.insert(first.end(), sample.begin(), sample.end());
        QCOMPARE(w.meSend->toPlainText(), Echo(first));
        QTRY_COMPARE_WITH_TIMEOUT(samples->headerItem()->text(4), QStringLiteral("STATUS"), kWait);
        QCOMPARE(samples->headerItem()->text(1), QStringLiteral("V_IST"));
        QCOMPARE(samples->headerItem()->text(2), QStringLiteral("TEMP"));
        QCOMPARE(samples->headerItem()->text(3), QStringLiteral("MODE"));
        QCOMPARE(samples->topLevelItem(0)->text(0), QStringLiteral("1"));
        QCOMPARE(samples->topLevelItem(0)->textAlignment(1) & Qt::AlignRight, int(Qt::AlignRight));

        // With rows present only the sample command goes out.
        QTest::keyClick(tab().lbParams, 's');
        QTRY_COMPARE_WITH_TIMEOUT(samples->topLevelItemCount(), 2, kWait);
        QCOMPARE(w.meSend->toPlainText(), Echo(sample));
        QCOMPARE(samples->topLevelItem(1)->text(0), QStringLiteral("2"));
        QCOMPARE(samples->topLevelItem(1)->text(4).trimmed(), QStringLiteral("3"));  // STATUS

        QTest::mouseClick(tab().btnClearSample, Qt::LeftButton);
        QCOMPARE(samples->topLevelItemCount(), 0);
        QCOMPARE(samples->headerItem()->text(1), QStringLiteral("V_IST"));
        QTest::keyClick(tab().lbParams, 'S');
        QTRY_COMPARE_WITH_TIMEOUT(samples->topLevelItemCount(), 1, kWait);
        QCOMPARE(samples->topLevelItem(0)->text(0), QStringLiteral("1"));
    }

    void copyKeysShowTheSavedValues() {
        open();
        select("MODE");
        QTest::keyClick(tab().lbParams, 'b');  // lower case does nothing
        QVERIFY(tab().meSaveVals->isHidden());
        QTest::keyClick(tab().lbParams, 'B');
        QTest::keyClick(tab().lbParams, 'N');
        QVERIFY(!tab().meSaveVals->isHidden());
        QCOMPARE(tab().meSaveVals->toPlainText(),
                 QStringLiteral("0x01   0x0000   MODE           \n{ 0x01,0x0000 }, // MODE           "));
    }

    void deviceButtonsSendTheirCommand_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("letter");
        QTest::newRow("Software reset") << "btnReset" << int('W');
        QTest::newRow("Write To Flash") << "btnWriteToFlash" << int('V');
        QTest::newRow("Enter Safemode") << "btnEnterSafe" << int('T');
        QTest::newRow("Exit Safemode") << "btnExitSafe" << int('U');
    }

    void deviceButtonsSendTheirCommand() {
        QFETCH(QString, button);
        QFETCH(int, letter);
        TfrmMain& w = open();
        w.edAddress->setText("17");
        w.meRecieved->setPlainText("<11>");
        sim_->clearReceived();
        QTest::mouseClick(w.findChild<QPushButton*>(button), Qt::LeftButton);
        const Bytes frame = vindelor::protocol::BuildCommand(17, static_cast<std::uint8_t>(letter));
        QCOMPARE(w.meSend->toPlainText(), Echo(frame));
        QCOMPARE(w.meRecieved->toPlainText(), QString());
        QVERIFY(sim_->waitReceived(frame.size(), kWait));
        QCOMPARE(sim_->received(), frame);
    }

    void receivedMemoShowsBytesUpToItsLimit_data() {
        QTest::addColumn<QList<int>>("posted");
        QTest::addColumn<QString>("shown");
        QTest::newRow("bytes and the loaded marker") << QList<int> {0x41, 1000, 0x00} << "<41><Loaded><00>";
        QTest::newRow("other numbers are ignored") << QList<int> {256, 999, -1, 0xFF} << "<FF>";
        QList<int> many(70, 0x55);
        QTest::newRow("nothing more after 250 characters") << many << QString("<55>").repeated(63);
    }

    void receivedMemoShowsBytesUpToItsLimit() {
        QFETCH(QList<int>, posted);
        TfrmMain& w = open();
        for (int v : posted) w.messageSink().post(vindelor::protocol::MsgReceivedByte, v, 0);
        w.messageSink().post(vindelor::protocol::MsgLoaderState, 7, 0);  // queued after the bytes
        QTRY_COMPARE_WITH_TIMEOUT(w.LoaderState, 7, kWait);
        QTEST(w.meRecieved->toPlainText(), "shown");
    }

    void loadFilterWritesTheCoefficients_data() {
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<int>("typeIndex");
        QTest::newRow("a VX20-95 gets all sixteen") << true << 0;
        QTest::newRow("a missing file sends nothing") << false << 0;
        QTest::newRow("another device type gets nothing") << true << 2;
    }

    void loadFilterWritesTheCoefficients() {
        QFETCH(bool, fileExists);
        QFETCH(int, typeIndex);
        const QString path = folder_->filePath("filter.bin");
        if (fileExists) {
            std::vector<std::int32_t> v(22, 0);
            for (int k = 0; k < 4; ++k) v[static_cast<std::size_t>(k)] = k + 1;  // KFF
            v[6] = 40;                                                            // KVFX, scaled by 1/16
            v[7] = -40;
            v[14] = 32;  // KVFY, normalised to 4096
            for (int k = 0; k < 4; ++k) v[static_cast<std::size_t>(18 + k)] = 100 + k;  // KVB
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(reinterpret_cast<const char*>(v.data()), static_cast<qint64>(v.size() * sizeof(std::int32_t)));
        }
        storeSettings({{"KyvaneAdmin", 1}, {"FilterFile", path}});
        TfrmMain& w = open();
        QCOMPARE(tab().edFilter->text(), path);
        if (typeIndex != 0) {
            w.ComboBox1->setCurrentIndex(typeIndex);
            emit w.ComboBox1->activated(typeIndex);
        }
        sim_->clearReceived();
        QTest::mouseClick(tab().btnLoadFilter, Qt::LeftButton);
        if (!fileExists) {
            QCOMPARE(boxes_.boxes.size(), std::size_t {1});
            QVERIFY(Boxes(boxes_)[0].startsWith("warning|Error|"));
        } else {
            QCOMPARE(Boxes(boxes_), QStringList());
        }
        if (!fileExists || typeIndex != 0) {
            QTest::qWait(200);
            QVERIFY(sim_->received().empty());
            return;
        }
        // KVFY comes last, after KVB.
        const int kff = numberOf("KFF3"), kvfx = numberOf("KVFX4"), kvfy = numberOf("KVFY3");
        const int kvb = numberOf("KVB3");
        QTRY_COMPARE_WITH_TIMEOUT(device_->value(kvfy + 2), 4096u, kWait);
        for (int k = 0; k < 4; ++k) QCOMPARE(device_->value(kff + k), std::uint32_t(k + 1));
        QCOMPARE(device_->value(kvfx), 3u);
        QCOMPARE(device_->value(kvfx + 1), 0xFFFDu);
        QCOMPARE(device_->value(kvb), 100u);
        QCOMPARE(device_->value(kvb + 3), 103u);
    }

    void typeBoxAndAltFilesReloadTheList() {
        TfrmMain& w = open();
        const int vxLines = tab().lbParams->count();
        w.ComboBox1->setCurrentIndex(1);
        emit w.ComboBox1->activated(1);
        QCOMPARE(w.DeviceType, 2);
        QCOMPARE(tab().list.deviceType, 2);
        QVERIFY(tab().lbParams->count() != vxLines || tab().list.defs.wordsPerRegister == 2);
        QCOMPARE(tab().list.defs.wordsPerRegister, 2);

        // Key A toggles the alternative files and the check box shows it.
        QTest::keyClick(tab().lbParams, 'A');
        QVERIFY(w.cbAltFiles->isChecked());
        QVERIFY(tab().list.altFiles);
        QTest::mouseClick(w.cbAltFiles, Qt::LeftButton);
        QVERIFY(!tab().list.altFiles);
        QCOMPARE(Boxes(boxes_), QStringList());
    }
};

QTEST_MAIN(BasicTabTest)
#include "BasicTab_test.moc"
