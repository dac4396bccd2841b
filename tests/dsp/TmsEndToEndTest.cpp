// A 64 KB program loaded into the real simulator over USB/IP, through the kernel stand-in,
// the driver and the USB link: the simulator's log line tells the words it got and their
// CRC-32, which gzip computes independently from the file; the serial link stays silent.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include "app/dsp/Udebug.h"
#include "app/dsp/Utms.h"
#include "app/panel/Umain.h"
#include "tests/e2e/SimulatorOverUsb.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

using testsupport::PumpUntil;

namespace {

// The CRC-32 that gzip writes after the compressed data, as 8 hexadecimal digits.
QString GzipCrc(const QString& path) {
  QProcess gzip;
  gzip.start("gzip", {"-c", "-n", path});
  if (!gzip.waitForFinished(10000)) return {};
  const QByteArray out = gzip.readAllStandardOutput();
  if (out.size() < 8) return {};
  uint32_t crc = 0;
  for (int i = 3; i >= 0; --i) crc = crc << 8 | uint8_t(out[out.size() - 8 + i]);
  return QString("%1").arg(crc, 8, 16, QChar('0')).toUpper();
}

QString ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The simulator keeps a log of the frames it gets.
class TmsEndToEnd : public SimulatorOverUsb {
 protected:
  TmsEndToEnd() { simArguments.insert(simArguments.end(), {"--log", "@DIR/frames.log"}); }
};

TEST_F(TmsEndToEnd, A64KProgramArrivesWholeInTheSimulator) {
  const QString log = QString::fromStdString(sim->directory()) + "/frames.log";
  {
    QTemporaryDir config;
    testsupport::PtyReceiver serial;
    testsupport::ProgramRun run(config.path(), serial.SlavePath());
    ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }, 10000)) << Debug->Debug->toPlainText().toStdString();
    testsupport::Pump(100);
    serial.Take(30);

    // The largest program the buffer holds: N = 65523, W = 16383 words, the whole 64 KB file.
    QByteArray file(65536, 0);
    QRandomGenerator random(15);
    for (char& b : file) b = char(random.bounded(256));
    file[2] = char(0xF3);
    file[3] = char(0xFF);
    const QString path = QDir(config.path()).filePath("program.bin");
    const QString body = QDir(config.path()).filePath("program.body");
    for (const auto& [name, bytes] : {std::pair{path, file}, std::pair{body, file.mid(4)}}) {
      QFile f(name);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(bytes);
    }
    const QString crc = GzipCrc(body);
    ASSERT_EQ(crc.size(), 8);

    Tms->show();
    Tms->Filename->SetText(path);
    Tms->LoadClick();
    EXPECT_EQ(Tms->Progress->value(), 16383);
    const QString expected = "usb программа DSP принята: слов 16383, CRC-32 " + crc;
    EXPECT_TRUE(PumpUntil([&] { return ReadAll(log).contains(expected); }, 10000))
        << "wanted: " << expected.toStdString() << "\nlast lines:\n"
        << ReadAll(log).right(600).toStdString();
    EXPECT_EQ(ReadAll(log).count("программа DSP принята"), 1);
    EXPECT_TRUE(serial.Take(30).empty()) << "nothing goes out on the serial link";
  }
}

}  // namespace
