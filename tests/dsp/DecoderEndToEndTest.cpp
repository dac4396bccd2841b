// The message window against the real simulator over USB: tuned to a telegraph station with
// the decoder on, the pane fills with the station's text under the matching alphabet and
// with something else under the wrong one; a hidden window drops what arrives; showing it
// again re-sends the character length.
#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "app/dsp/Udebug.h"
#include "app/dsp/Udecoder.h"
#include "app/panel/Umain.h"
#include "tests/e2e/SimulatorOverUsb.h"
#include "tests/support/ProgramRun.h"

namespace {

using testsupport::PumpUntil;

// The text the simulator's station on 7646 kHz sends (100 Bd, Russian).
const QString kStationText = "НАВИГАЦИОННОЕ ПРЕДУПРЕЖДЕНИЕ 214/26. В РАЙОНЕ 59-40 С 028-10 В ДРЕЙФУЕТ БУЙ.";

int LoggedFrames(const std::string& log, const QByteArray& frame) {
  QFile f(QString::fromStdString(log));
  if (!f.open(QIODevice::ReadOnly)) return -1;
  int n = 0;
  for (const QByteArray& line : f.readAll().split('\n'))
    if (line.endsWith(" " + frame)) ++n;
  return n;
}

// The simulator keeps a log of the frames it gets.
class DecoderEndToEnd : public SimulatorOverUsb {
 protected:
  DecoderEndToEnd() { simArguments.insert(simArguments.end(), {"--log", "@DIR/frames.log"}); }
};

TEST_F(DecoderEndToEnd, StationTextReadsUnderTheMatchingAlphabet) {
  const std::string log = sim->directory() + "/frames.log";
  {
    QTemporaryDir config;
    testsupport::ProgramRun run(config.path(), "/nonexistent/tty");
    ASSERT_TRUE(PumpUntil([] { return Main->LinkKind == 2; }, 10000)) << Debug->Debug->toPlainText().toStdString();
    Main->BtnPol1k->PerformClick();
    Main->TuneTo(7646000);
    TDecoder& d = *Decoder;
    d.show();

    // 7.5-bit characters are МТК-2: Russian letters, figures and their shifts.
    d.MTK2->trigger();
    d.Recv7d5->trigger();
    ASSERT_TRUE(PumpUntil([&] { return d.Editor->CharacterCount() >= 30; }, 8000)) << d.Editor->Text().toStdString();
    EXPECT_TRUE(kStationText.startsWith(d.Editor->Text())) << d.Editor->Text().toStdString();

    // Longer characters are МТК-5: read with the Russian half; the Latin half shows other letters.
    d.MTK5RU->trigger();
    d.Recv9->trigger();
    d.ClearClick();
    ASSERT_TRUE(PumpUntil([&] { return d.Editor->CharacterCount() >= 20; }, 8000));
    const QString russian = d.Editor->Text();
    EXPECT_TRUE(kStationText.contains(russian.left(15))) << russian.toStdString();
    d.MTK5EN->trigger();
    d.ClearClick();
    ASSERT_TRUE(PumpUntil([&] { return d.Editor->CharacterCount() >= 10; }, 8000));
    const QString latin = d.Editor->Text();
    EXPECT_FALSE(latin.contains(QRegularExpression("[А-Я]"))) << latin.toStdString();

    // Hidden: nothing is shown; the receiver is not told anything.
    const int sentNine = LoggedFrames(log, "O 2");
    d.hide();
    testsupport::Pump(50);
    d.ClearClick();
    testsupport::Pump(1000);
    EXPECT_EQ(d.Editor->CharacterCount(), 0);
    d.show();
    ASSERT_TRUE(PumpUntil([&] { return LoggedFrames(log, "O 2") == sentNine + 1; }, 3000))
        << "showing re-sends the length";
    ASSERT_TRUE(PumpUntil([&] { return d.Editor->CharacterCount() > 0; }, 3000));
    d.RecvOFF->trigger();
  }
}

}  // namespace
