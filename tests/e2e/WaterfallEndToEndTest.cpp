// Under a real X server, PVestra on the simulator over USB: the waterfall opened with Ctrl+W
// shows the simulator's carrier as an unbroken line, its telegraph station as a broken one
// and its FSK station as two lines, darker between them; a click on the carrier's
// line tunes the receiver to it (the simulator logs the F command), and the rows after it
// stand below a white line. The screenshots are kept in build/screenshots/.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/win32/IniFile.h"
#include "tests/e2e/XvfbSession.h"
#include "tests/sim/SimProcess.h"

namespace {

constexpr int32_t kTuned = 8000000;
constexpr int32_t kCarrier = 8001500, kTelegraph = 7997500, kFskCentre = 8003500, kFskShift = 500;
// The window's layout: the picture starts after a 2-pixel margin and the 44-pixel time scale.
constexpr int kPictureLeft = 46, kPictureTop = 2, kPictureRightMargin = 2;
constexpr int kMainSpectrumButton[2] = {387, 299};  // СПЕКТР in the main window's client area

std::string WaitForWindow(const testsupport::XvfbSession& x, const std::string& name) {
  std::string window;
  for (int i = 0; i < 100 && window.empty(); ++i) {
    usleep(100 * 1000);
    window = x.Run("xdotool search --onlyvisible --name '" + name + "' 2>/dev/null | head -1");
  }
  if (!window.empty()) window.pop_back();
  return window;
}

bool WaitForStatus(simtest::SimProcess& sim, const std::string& wanted) {
  for (int i = 0; i < 100; ++i) {
    if (sim.command("status").value_or("").find(wanted) != std::string::npos) return true;
    usleep(100 * 1000);
  }
  return false;
}

// The F frequencies logged over USB.
std::vector<long> LoggedFrequencies(const std::string& logPath) {
  std::ifstream log(logPath);
  std::vector<long> tuned;
  for (std::string line; std::getline(log, line);) {
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string s; words >> s;) w.push_back(s);
    if (w.size() >= 4 && w[1] == "usb" && w[w.size() - 2] == "F") tuned.push_back(std::stol(w.back()));
  }
  return tuned;
}

// The screenshot's picture: the columns of frequencies of the newest row, and which of
// its rows are written (not black).
struct Picture {
  QImage shot;
  int width = 0;  // of the picture, in pixels
  int rows = 0;   // written rows from the top

  int ColumnOf(int32_t f) const {
    const double bin = 256 + double(f - kTuned) * 512 / 11070;
    return kPictureLeft + int((bin + 0.5) * width / 512);
  }
  int Green(int x, int row) const { return qGreen(shot.pixel(x, kPictureTop + row)); }
  // Share of the written rows in which column x is lighter than `threshold`.
  double Lit(int x, int threshold) const {
    int n = 0;
    for (int r = 0; r < rows; ++r) n += Green(x, r) > threshold;
    return rows ? double(n) / rows : 0;
  }
  // Runs of unlit rows between lit ones in column x.
  int Gaps(int x, int threshold) const {
    int gaps = 0;
    bool lit = true;
    for (int r = 0; r < rows; ++r) {
      const bool now = Green(x, r) > threshold;
      if (!now && lit) ++gaps;
      lit = now;
    }
    return gaps;
  }
  int Median(int x) const {
    std::vector<int> g;
    for (int r = 0; r < rows; ++r) g.push_back(Green(x, r));
    std::nth_element(g.begin(), g.begin() + std::ptrdiff_t(g.size() / 2), g.end());
    return g.empty() ? 0 : g[g.size() / 2];
  }
};

TEST(WaterfallUnderX, SignalsShowAsTheirLinesAndAClickOnOneTunesToIt) {
  testsupport::XvfbSession x;
  if (!x.Ok()) GTEST_SKIP() << "no Xvfb";
  simtest::SimProcess sim({"--no-serial", "--log", "@DIR/frames.log"});
  ASSERT_TRUE(sim.started());
  const std::string logPath = sim.directory() + "/frames.log";
  for (const std::string& s : {std::to_string(kCarrier) + " 70 carrier", std::to_string(kTelegraph) + " 70 cw",
                               std::to_string(kFskCentre) + " 70 fsk"})
    ASSERT_NE(sim.command("signal add " + s).value_or("").find("добавлен"), std::string::npos) << s;
  QTemporaryDir config;
  {
    win32::IniFile ini(config.path() + "/PVestra/PVestra.ini");
    ini.WriteString("Serial", "Port", config.path() + "/no-tty");
    ini.WriteString("Usb", "Server", QString("127.0.0.1:%1").arg(sim.port()));
    ini.WriteInteger("TMain", "FreqkHz.Value", kTuned / 1000);
    // Side by side on the screen: the main window right, the waterfall left.
    ini.WriteInteger("TMain", "Left", 640);
    ini.WriteInteger("TMain", "Top", 0);
    ini.WriteInteger("TWaterfall", "Left", 0);
    ini.WriteInteger("TWaterfall", "Top", 0);
    // The empty band sits about 50 dB above the scale's bottom: start the colours there.
    ini.WriteInteger("TWaterfall", "SldLow.Position", 50);
  }
  ASSERT_TRUE(x.StartProgram(config.path()));
  const std::string main = WaitForWindow(x, "VESTRA");
  ASSERT_FALSE(main.empty()) << "the main window did not appear";
  ASSERT_TRUE(WaitForStatus(sim, "состояние получено")) << "no full upload reached the simulator";
  x.Run("xdotool mousemove --window " + main + " " + std::to_string(kMainSpectrumButton[0]) + " " +
        std::to_string(kMainSpectrumButton[1]) + " click 1");
  ASSERT_TRUE(WaitForStatus(sim, "поток 1")) << "the stream did not start";
  x.Run("xdotool windowfocus --sync " + main + " key ctrl+w");
  const std::string waterfall = WaitForWindow(x, "Водопад");
  ASSERT_FALSE(waterfall.empty()) << "Ctrl+W did not open the waterfall";
  sleep(20);  // about 215 blocks

  const QString shotPath = QString::fromLocal8Bit(qgetenv("PVESTRA_BIN")) + "/../screenshots/waterfall-e2e.png";
  QDir().mkpath(QFileInfo(shotPath).path());
  x.Run("import -window " + waterfall + " " + shotPath.toStdString());
  Picture p;
  ASSERT_TRUE(p.shot.load(shotPath)) << shotPath.toStdString();
  p.width = p.shot.width() - kPictureLeft - kPictureRightMargin;
  while (p.rows < p.shot.height() - kPictureTop && (p.shot.pixel(kPictureLeft + 10, kPictureTop + p.rows) & 0xFFFFFF))
    ++p.rows;
  ASSERT_GT(p.rows, 60) << "rows written";

  // Lit: lighter than halfway between the empty band's level and the carrier's. The keyed
  // signals are lit in every row whose transform caught a mark; a space or a letter gap
  // that fills a whole transform leaves a gap in their line.
  const int quiet = p.Median(p.ColumnOf(kTuned - 4500)), strong = p.Median(p.ColumnOf(kCarrier));
  ASSERT_GT(strong - quiet, 40) << "the carrier does not stand out: " << quiet << " / " << strong;
  const int threshold = (quiet + strong) / 2;
  const int carrier = p.ColumnOf(kCarrier), telegraph = p.ColumnOf(kTelegraph);
  EXPECT_GT(p.Lit(carrier, threshold), 0.95) << "the carrier is a line";
  EXPECT_LE(p.Gaps(carrier, threshold), 1) << "the carrier is an unbroken line";
  EXPECT_GT(p.Lit(telegraph, threshold), 0.3) << "the telegraph station is a line";
  EXPECT_GE(p.Gaps(telegraph, threshold), 3) << "the telegraph station is a broken line";
  const double between = p.Lit(p.ColumnOf(kFskCentre), threshold);
  for (int32_t tone : {kFskCentre - kFskShift / 2, kFskCentre + kFskShift / 2}) {
    const double lit = p.Lit(p.ColumnOf(tone), threshold);
    EXPECT_GT(lit, 0.5) << "FSK tone " << tone;
    EXPECT_LT(between, lit / 2) << "FSK: two lines, darker between them";
  }

  // A click on the carrier's line, in a written row.
  const size_t before = LoggedFrequencies(logPath).size();
  x.Run("xdotool mousemove --window " + waterfall + " " + std::to_string(p.ColumnOf(kCarrier)) + " " +
        std::to_string(kPictureTop + p.rows / 2) + " click 1");
  std::vector<long> tuned;
  for (int i = 0; i < 50 && tuned.size() <= before; ++i) {
    usleep(100 * 1000);
    tuned = LoggedFrequencies(logPath);
  }
  ASSERT_GT(tuned.size(), before) << "the click sent no F";
  // Within one bin (11070 / 512 Hz) of the carrier, plus the pixel's own width.
  EXPECT_NEAR(tuned.back(), kCarrier, 44);

  // The rows since then stand under the new tuning, below a white line.
  sleep(3);
  const QString tunedShotPath = QFileInfo(shotPath).path() + "/waterfall-e2e-tuned.png";
  x.Run("import -window " + waterfall + " " + tunedShotPath.toStdString());
  x.StopProgram();
  QImage after;
  ASSERT_TRUE(after.load(tunedShotPath));
  int line = -1;
  for (int r = 0; r < 80 && line < 0; ++r)
    if ((after.pixel(kPictureLeft + 10, kPictureTop + r) & 0xFFFFFF) == 0xFFFFFF) line = r;
  EXPECT_GT(line, 5) << "no change line under the newest rows";
  std::printf("waterfall screenshots: %s, %s; click tuned to %ld Hz\n", qPrintable(shotPath),
              qPrintable(tunedShotPath), tuned.back());
}

}  // namespace
