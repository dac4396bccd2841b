// The simulator's console: lines as a person or a script types them. The commands act on a
// receiver model as they do in the simulator (signals into its scene, reports built from
// the text), and after the last line the model synthesises one sample block, so whatever
// the lines put into the scene is also turned into samples.
#include <cstdint>
#include <string>

#include "sim/ControlConsole.h"
#include "sim/ReceiverModel.h"

namespace {

class Output : public sim::ModelOutput {
 public:
  bool linkOpen(sim::Link) const override { return true; }
  void sendReport(sim::Link, const std::vector<uint8_t>&) override {}
  void sendBlock(const int16_t*) override {}
};

// What the simulator does with each console command, on a model of its own.
class Target : public sim::ConsoleTarget {
 public:
  explicit Target(sim::ReceiverModel& model) : model_(model) {}
  void unplug() override {}
  void plug() override {}
  void addSignal(const sim::Signal& s) override { model_.scene().add(s); }
  size_t removeSignal(int32_t frequency) override { return model_.scene().remove(frequency); }
  void fault(sim::Fault) override {}
  void sendRawReport(const std::vector<uint8_t>&) override {}
  std::string status() const override { return {}; }
  void quit() override {}

 private:
  sim::ReceiverModel& model_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Output output;
  sim::ReceiverModel model(output, sim::SignalScene());
  Target target(model);
  const std::string text(reinterpret_cast<const char*>(data), size);
  int16_t block[sim::IqSynthesizer::kSamples];
  size_t start = 0;
  for (int lines = 0; start <= text.size() && lines < 64; ++lines) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    sim::runConsoleCommand(text.substr(start, end - start), target);
    start = end + 1;
  }
  model.synthesizeBlock(block);
  return 0;
}
