// Hamlib's own client, `rigctl -m 2` (NET rigctl), against the program's server: what it
// reads back, and what the receiver on the pseudo-terminal gets for each set.
#include <QProcess>
#include <QStandardPaths>

#include "app/dsp/Uclass.h"
#include "app/dsp/Udebug.h"
#include "tests/remote/RemoteProgramTest.h"

using Strings = std::vector<std::string>;

namespace {

struct ClientRun {
  int exitCode = -1;
  std::string out, err;
};

class RigctlClientTest : public remotetest::RemoteProgramTest {
 protected:
  // Runs rigctl with `args` (commands, or options before them) and waits for it, the
  // event loop running so that the server answers.
  ClientRun Rigctl(const QStringList& args) {
    if (QStandardPaths::findExecutable("rigctl").isEmpty()) {
      ADD_FAILURE() << "rigctl is not installed (scripts/install-deps.sh installs libhamlib-utils)";
      return {};
    }
    QProcess p;
    p.start("rigctl", QStringList{"-m", "2", "-r", QString("127.0.0.1:%1").arg(port_)} + args);
    testsupport::PumpUntil([&] { return p.state() == QProcess::NotRunning; }, 15000);
    if (p.state() != QProcess::NotRunning) {
      p.kill();
      p.waitForFinished(1000);
      ADD_FAILURE() << "rigctl did not finish";
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
  }
  std::string Out(const QStringList& args) {
    const ClientRun r = Rigctl(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  }
};

TEST_F(RigctlClientTest, ReadsTheFrequencyAndTunesThroughTheMainWindow) {
  EXPECT_EQ(Out({"f"}), "1000000\n");  // the first-start frequency, 1000.000 kHz

  Out({"F", "7100000"});
  EXPECT_EQ(Sent(), (Strings{"F:07100000"}));
  EXPECT_EQ(Main->FreqkHz->Value(), 7100);
  EXPECT_EQ(Main->FreqHz->Value(), 0);
  EXPECT_EQ(Out({"f"}), "7100000\n");
}

TEST_F(RigctlClientTest, AFrequencyOutsideTheReceiverIsRefusedAndNothingIsSent) {
  for (const char* hz : {"40000000", "999999", "30000001"}) {
    const ClientRun r = Rigctl({"F", hz});
    EXPECT_NE((r.out + r.err).find("Invalid parameter"), std::string::npos) << hz;  // RPRT -1
    EXPECT_EQ(Sent(), Strings{}) << hz;
  }
  EXPECT_EQ(Main->FreqkHz->Value(), 1000);
}

TEST_F(RigctlClientTest, ATuningCommandEndsAKeypadEntryAsTuneToDoes) {
  Main->Btn[2]->PerformClick();  // the operator has typed "2" and not pressed ВВОД
  Out({"F", "14070500"});
  EXPECT_EQ(Sent(), (Strings{"F:14070500"}));
  EXPECT_EQ(Main->EntryActive, 0);
  EXPECT_EQ(Main->LastKnobValue, 14070500);
}

TEST_F(RigctlClientTest, ModeAndPassbandGoThroughTheButtons) {
  EXPECT_EQ(Out({"m"}), "AM\n3000\n");

  Out({"M", "USB", "2400"});
  // The ВБП click (sideband shift 1850, its tone, mode 92, the bandwidth down), and no
  // second click: 3 kHz, the narrowest filter that passes 2400 Hz, is down already.
  EXPECT_EQ(Sent(), (Strings{"e:1850", "L:01850", "E:92", "H:03000"}));
  EXPECT_TRUE(Main->BtnVBP->Down());
  EXPECT_EQ(Out({"m"}), "USB\n3000\n");

  Out({"M", "CW", "500"});
  EXPECT_EQ(Sent(), (Strings{"L:00000", "E:91", "H:03000", "H:00500"}));
  EXPECT_TRUE(Main->BtnPol0k5->Down());

  Out({"M", "LSB", "0"});  // 0 keeps the bandwidth
  EXPECT_EQ(Sent(), (Strings{"e:1850", "L:-1850", "E:93", "H:00500"}));
  EXPECT_EQ(Out({"m"}), "LSB\n500\n");
}

TEST_F(RigctlClientTest, AModeTheReceiverLacksOrAnImpossiblePassbandChangesNothing) {
  struct Row {
    QStringList args;
    const char* error;  // as the client words the server's code
  };
  for (const Row& row : {Row{{"M", "FM", "0"}, "Feature not available"},  // RPRT -11
                         Row{{"M", "USB", "15000"}, "Invalid parameter"}}) {   // RPRT -1
    const ClientRun r = Rigctl(row.args);
    EXPECT_NE((r.out + r.err).find(row.error), std::string::npos) << r.out << r.err;
    EXPECT_EQ(Sent(), Strings{}) << row.args.join(' ').toStdString();
  }
  EXPECT_TRUE(Main->BtnAM->Down());
}

TEST_F(RigctlClientTest, InClassModeTheModeFollowsTheClass) {
  struct Row {
    const char* designator;
    int sideband;  // 0 upper, 1 lower
    const char* mode;
  };
  for (const Row& row : {Row{"J3E", 1, "LSB\n"}, Row{"J3E", 0, "USB\n"}, Row{"F1B", 0, "RTTY\n"}, Row{"A1A", 0, "CW\n"},
                         Row{"A3E", 0, "AM\n"}, Row{"F3E", 0, "FM\n"}}) {
    ClassIz->ClassName->SetItemIndex(ClassIz->ClassName->findText(row.designator));
    ClassIz->BP->SetItemIndex(row.sideband);
    Main->BtnCLASS->PerformClick();
    EXPECT_EQ(Out({"m"}), std::string(row.mode) + "3000\n") << row.designator;
  }
}

TEST_F(RigctlClientTest, TheSignalStrengthIsTheLastLevelReportRelativeToS9) {
  receiver_.SendReport('L', "+040");  // 40 dBµV at the antenna
  ASSERT_TRUE(testsupport::PumpUntil([] { return Main->ReportedLevel == 40; }));
  EXPECT_EQ(Out({"l", "STRENGTH"}), "6\n");  // S9 is 34 dBµV
  receiver_.SendReport('L', "-012");
  ASSERT_TRUE(testsupport::PumpUntil([] { return Main->ReportedLevel == -12; }));
  EXPECT_EQ(Out({"l", "STRENGTH"}), "-46\n");
}

struct LevelCase {
  const char* name;
  const char* value;
  Strings sent;        // what the control's own action sends
  const char* readBack;
};

TEST_F(RigctlClientTest, LevelsActAsTheirControls) {
  const LevelCase cases[] = {
      {"ATT", "12", {"B:12"}, "12\n"},
      {"PREAMP", "0", {"P:0"}, "0\n"},
      {"PREAMP", "0", {}, "0\n"},  // off already: no click
      {"PREAMP", "15", {"P:1"}, "15\n"},
      {"AF", "0.5", {"D:20"}, "0.500000\n"},
      {"AGC", "0", {"C:00", "J:5"}, "0\n"},       // РРУ
      {"AGC", "3", {"X:000", "J:3"}, "3\n"},      // АРУ, 1 s: SLOW
      {"AGC", "1", {"X:000", "J:0"}, "1\n"},      // АРУ, 0.02 s: SUPERFAST
  };
  for (const LevelCase& c : cases) {
    Out({"L", c.name, c.value});
    EXPECT_EQ(Sent(), c.sent) << c.name << ' ' << c.value;
    EXPECT_EQ(Out({"l", c.name}), c.readBack) << c.name;
  }
  EXPECT_EQ(Main->AttVch->Value(), 12);
  EXPECT_EQ(Main->SldNch->value(), 20);
  EXPECT_TRUE(Main->BtnARU->Down());
}

TEST_F(RigctlClientTest, BadLevelValuesAreRefusedAndNothingIsSent) {
  for (QStringList args : {QStringList{"L", "ATT", "7"}, QStringList{"L", "ATT", "48"}, QStringList{"L", "PREAMP", "10"},
                           QStringList{"L", "AF", "1.5"}, QStringList{"L", "AGC", "4"}}) {
    Rigctl(args);
    EXPECT_EQ(Sent(), Strings{}) << args.join(' ').toStdString();
  }
}

TEST_F(RigctlClientTest, AReceiverNeverTransmits) {
  EXPECT_EQ(Out({"t"}), "0\n");
  const ClientRun r = Rigctl({"T", "1"});
  EXPECT_EQ(Sent(), Strings{});
  EXPECT_EQ(Out({"v"}), "VFOA\n");
}

TEST_F(RigctlClientTest, TheClientTakesTheStateDumpWithoutWarnings) {
  // -vvv shows the client's errors and warnings; it reads the dump when it opens.
  const ClientRun r = Rigctl({"-vvv", "f"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.out.ends_with("\n1000000\n")) << r.out;
  EXPECT_EQ(r.err.find("rror"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("arn"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("unknown"), std::string::npos) << r.err;
}

TEST_F(RigctlClientTest, TheConsoleSaysWhereTheServerListens) {
  EXPECT_TRUE(Debug->Debug->toPlainText().contains(QString("127.0.0.1:%1").arg(port_)));
}

}  // namespace
