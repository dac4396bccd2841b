// The full-state upload a serial receiver gets when it asks for the state, frame for frame,
// for each branch of the controls it reads: the mode, the gain control, the test signal,
// the LF generator, the decoder's receive mode and the notch filter.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <functional>

#include "app/dsp/Udecoder.h"
#include "app/dsp/Umparams.h"
#include "app/dsp/Uregector.h"
#include "app/link/Ucom.h"
#include "app/link/Ucmd.h"
#include "app/link/Ureport.h"
#include "app/panel/Umain.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/PtyReceiver.h"

using testsupport::ToStrings;
using Strings = std::vector<std::string>;

namespace {

// The parts of the upload that a branch changes, each as the frames it sends; the rest of
// the upload is the same for every row.
struct Upload {
  Strings mode{"E:90", "H:03000"};
  std::string bandwidth = "H:03000";
  Strings gain{"X:000", "J:0"};
  std::string lfGain = "D:00";
  Strings testSignal{"I:0"};
  Strings lfGenerator{"N:0000"};
  std::string decoder = "O:0";
  Strings notch{"K:00000", "M:0000"};

  Strings Frames() const {
    Strings f{"F:01000000"};
    f.insert(f.end(), mode.begin(), mode.end());
    f.insert(f.end(), {bandwidth, "R:0", "S:0"});
    f.insert(f.end(), gain.begin(), gain.end());
    f.insert(f.end(), {"B:00", lfGain, "U:0"});
    f.insert(f.end(), testSignal.begin(), testSignal.end());
    f.insert(f.end(), {"P:1", "z:0", "i:0", "w:01", "v:000"});
    f.insert(f.end(), lfGenerator.begin(), lfGenerator.end());
    f.push_back(decoder);
    f.insert(f.end(), notch.begin(), notch.end());
    return f;
  }
};

struct Row {
  const char* name;
  std::function<void()> setUp;
  Upload expected;
};

Upload With(std::function<void(Upload&)> change) {
  Upload u;
  change(u);
  return u;
}

// Sends the state request and collects what the program answers: the report may reach the
// port a moment after it was written, so the link is polled until `expected` frames came
// (or two seconds passed), and a little longer for any frame too many.
Strings AskForTheState(testsupport::PtyReceiver& receiver, size_t expected) {
  SerialUploadDone = false;
  receiver.SendReport('S', "");
  Strings sent;
  testsupport::PumpUntil([&] {
    Serial.Poll();
    for (const std::string& f : ToStrings(receiver.Take(0))) sent.push_back(f);
    return sent.size() >= expected;
  }, 2000);
  for (const std::string& f : ToStrings(receiver.Take(30))) sent.push_back(f);
  return sent;
}

TEST(UploadState, EachBranchSendsItsFramesInOrder) {
  const Row rows[] = {
      {"first start", [] {}, Upload{}},
      {"ТЛГ with the tone at -7", [] { Main->SldTon->setValue(-7); Main->BtnTLG->PerformClick(); },
       With([](Upload& u) { u.mode = {"L:-0700", "E:91", "H:03000"}; })},
      {"ВБП with shift 2000", [] { MParams->Sideband->SetValue(2000); Main->BtnVBP->PerformClick(); },
       With([](Upload& u) { u.mode = {"e:2000", "L:02000", "E:92", "H:03000"}; })},
      {"НБП", [] { Main->BtnNBP->PerformClick(); },
       With([](Upload& u) { u.mode = {"e:1850", "L:-1850", "E:93", "H:03000"}; })},
      {"АМ at 12 kHz", [] { Main->BtnPol12k->PerformClick(); },
       With([](Upload& u) { u.mode = {"E:90", "H:12000"}; u.bandwidth = "H:12000"; })},
      {"РРУ at 33 dB with companding", [] { Main->SldRRU->setValue(33); MParams->RruComp->Choose(1); },
       With([](Upload& u) { u.gain = {"C:33", "J:6"}; })},
      {"АРУ with threshold -5 and the third time constant",
       [] { MParams->PorogARU->SetValue(-5); MParams->tARU->Choose(2); },
       With([](Upload& u) { u.gain = {"X:-05", "J:2"}; })},
      {"test signal of choice at 12.3 kHz", [] { MParams->KS->SetItemIndex(5); MParams->UserPch->SetValue(123); },
       With([](Upload& u) { u.testSignal = {"o:1230", "I:5"}; })},
      {"telegraph test signal", [] { MParams->KS->SetItemIndex(6); MParams->Vt->SetValue(100); MParams->dF->SetValue(500); },
       With([](Upload& u) { u.testSignal = {"G:0100", "T:0500", "I:6"}; })},
      {"fixed test signal", [] { MParams->KS->SetItemIndex(3); },
       With([](Upload& u) { u.testSignal = {"I:3"}; })},
      {"LF generator on", [] { MParams->KsNchUsil->setValue(12); MParams->KsNchFreq->setValue(1000); MParams->KSNch->SetItemIndex(1); },
       With([](Upload& u) { u.lfGain = "D:12"; u.lfGenerator = {"D:12", "N:1000"}; })},
      {"decoder at 9 bits, window hidden", [] { Decoder->Recv9->trigger(); Decoder->hide(); },
       With([](Upload& u) { u.decoder = "O:2"; })},
      {"notch on", [] { Regector->SldFreqReg->setValue(1000); Regector->SldPolReg->setValue(50); Regector->RegEn->setChecked(true); },
       With([](Upload& u) { u.notch = {"K:01000", "M:0050"}; })},
  };
  for (const Row& r : rows) {
    QTemporaryDir config;
    testsupport::PtyReceiver receiver;
    testsupport::ProgramRun run(config.path(), receiver.SlavePath());
    r.setUp();
    receiver.Take(30);  // what the set-up itself sent
    const Strings expected = r.expected.Frames();
    EXPECT_EQ(AskForTheState(receiver, expected.size()), expected) << r.name;
  }
}

}  // namespace
