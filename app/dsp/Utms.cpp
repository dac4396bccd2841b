#include "app/dsp/Utms.h"

#include <QApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QMessageBox>

#include "app/dsp/UtmsProgram.h"
#include "app/link/Uusb.h"
#include "app/panel/Umain.h"
#include "platform/win32/IniFile.h"
#include "platform/win32/Sync.h"

TTms* Tms = nullptr;

namespace {

// "Description|pattern|…" as the dialog's filter list; a description that does not show
// its pattern gets it added in brackets.
QStringList ParseDialogFilters(const QString& filter) {
  const QStringList parts = filter.split('|');
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString pattern = parts[i + 1].trimmed();
    QString description = parts[i];  // as given, leading blank and all
    if (!description.contains('(' + pattern + ')')) description += " (" + pattern + ")";
    out << description;
  }
  return out;
}

// The busy cursor for the length of a transfer.
struct BusyCursor {
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

constexpr const char* kFilenameText = "Filename.Text";
constexpr const char* kFilenameFilterIndex = "Filename.FilterIndex";

}  // namespace

TFilenameEdit::TFilenameEdit(QWidget* parent, const QString& name, const QString& filter)
    : QWidget(parent), filters_(ParseDialogFilters(filter)) {
  setObjectName(name);
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(1);
  edit_ = new QLineEdit(this);
  edit_->setAccessibleName("Имя файла");
  button_ = new QToolButton(this);
  button_->setText("...");
  button_->setToolTip("Выбрать файл");
  row->addWidget(edit_, 1);
  row->addWidget(button_);
  connect(button_, &QToolButton::clicked, this, [this] { Browse(); });
  connect(edit_, &QLineEdit::editingFinished, this, [this] {
    if (OnChange) OnChange();
  });
}

void TFilenameEdit::SetFilterIndex(int index) {
  if (index >= 1 && index <= filters_.size()) filterIndex_ = index;
}

void TFilenameEdit::Browse() {
  QString selected = filters_.value(filterIndex_ - 1);
  const QString name = QFileDialog::getOpenFileName(window(), QString(), Text(), filters_.join(";;"), &selected);
  if (name.isEmpty()) return;
  SetText(name);
  if (const qsizetype i = filters_.indexOf(selected); i >= 0) filterIndex_ = int(i) + 1;
  if (OnChange) OnChange();
}

TTms::TTms() : TToolWindow("TTms", "Загрузка TMS", {360, 68}) {
  Tms = this;
  Filename = new TFilenameEdit(this, "Filename", kFileFilter);
  Filename->setGeometry(8, 8, 344, 22);
  Load = new QPushButton("Загрузить", this);
  Load->setObjectName("Load");
  Load->setGeometry(8, 38, 90, 24);
  Progress = new QProgressBar(this);
  Progress->setObjectName("Progress");
  Progress->setAccessibleName("Ход загрузки");
  Progress->setGeometry(106, 40, 246, 20);
  Progress->setRange(0, 100);
  Progress->setValue(0);
  Progress->setTextVisible(false);

  connect(Load, &QPushButton::clicked, this, [this] { LoadClick(); });
  Filename->OnChange = [this] { SaveFilename(); };
  FormShow = [this] {
    if (!Storage()) FormShowFirst();
  };
}

// The window's place and the file name are read when it is first shown, and only from then
// on written back, so a run that never opens the loader leaves them as they were.
void TTms::FormShowFirst() {
  SetPersisted({});
  win32::IniFile& ini = ProgramIni();
  Storage()->Restore(ini);
  if (ini.KeyExists(ClassName(), kFilenameText)) Filename->SetText(ini.ReadString(ClassName(), kFilenameText));
  if (auto index = ini.ReadInteger(ClassName(), kFilenameFilterIndex)) Filename->SetFilterIndex(*index);
}

void TTms::SaveFilename() {
  if (!Storage()) return;
  win32::IniFile& ini = ProgramIni();
  win32::IniFile::Batch batch(ini);
  ini.WriteString(ClassName(), kFilenameText, Filename->Text());
  ini.WriteInteger(ClassName(), kFilenameFilterIndex, Filename->FilterIndex());
}

void TTms::LoadClick() {
  const QString path = Filename->Text();
  const dsp::ProgramFile file = dsp::ReadProgramFile(path);
  if (file.status == dsp::ProgramFileStatus::NoFile) return;
  if (file.status != dsp::ProgramFileStatus::Ready) {
    QMessageBox::warning(this, windowTitle(), dsp::RefusalMessage(file, path));
    return;
  }
  BusyCursor busy;
  Progress->setRange(0, file.words);
  Progress->setValue(0);
  dsp::SendProgram(file, [&](const dsp::LoadPacket& packet, int sent) {
    Usb.WriteCommand(packet.data());
    Sleep(1);
    Progress->setValue(sent);
    // This window alone; the message queue waits until the transfer is done.
    if (packet[1] == dsp::kMiddlePacket) repaint();
  });
}
