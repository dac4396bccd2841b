#include "app/dsp/Udecoder.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QVBoxLayout>

#include "app/link/Ucmd.h"
#include "app/panel/Umain.h"
#include "platform/win32/Cp1251.h"
#include "platform/win32/IniFile.h"

TDecoder* Decoder = nullptr;

TSaveDialog::TSaveDialog(QObject* parent, const QString& name, const QString& defaultExt,
                         const QStringList& filters)
    : QObject(parent), DefaultExt(defaultExt), Filters(filters) {
  setObjectName(name);
}

bool TSaveDialog::Execute(QWidget* parent) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setDefaultSuffix(DefaultExt);
  dialog.setNameFilters(Filters);
  if (FilterIndex >= 1 && FilterIndex <= Filters.size()) dialog.selectNameFilter(Filters[FilterIndex - 1]);
  if (!FileName.isEmpty()) dialog.selectFile(FileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  FileName = dialog.selectedFiles().front();
  FilterIndex = int(Filters.indexOf(dialog.selectedNameFilter())) + 1;
  return true;
}

TDecoder::TDecoder()
    : TToolWindow("TDecoder", "Прием сообщений", {}), Mtk5Table(alphabet::MakeMtk5Table()) {
  Decoder = this;
  resize(480, 320);
  Menu = new QMenuBar(this);
  QMenu* file = Menu->addMenu("Файл");
  file->setObjectName("File");
  auto plain = [&](const char* name, const QString& text, void (TDecoder::*handler)()) {
    QAction* a = file->addAction(text);
    a->setObjectName(name);
    connect(a, &QAction::triggered, this, handler);
    return a;
  };
  Clear = plain("Clear", "Очистить", &TDecoder::ClearClick);
  Save = plain("Save", "Сохранить", &TDecoder::SaveClick);
  SaveAs = plain("SaveAs", "Сохранить как...", &TDecoder::SaveAsClick);
  file->addSeparator();
  Quit = plain("Quit", "Выход", &TDecoder::QuitClick);

  QMenu* recv = Menu->addMenu("Прием");
  recv->setObjectName("Recv");
  auto* recvGroup = new QActionGroup(this);
  const std::pair<QAction**, std::tuple<const char*, const char*, int>> recvItems[] = {
      {&Recv7d5, {"Recv7d5", "7.5 бит", 1}}, {&Recv9, {"Recv9", "9 бит", 2}},   {&Recv10, {"Recv10", "10 бит", 3}},
      {&Recv11, {"Recv11", "11 бит", 4}},    {&RecvOFF, {"RecvOFF", "Откл", 0}},
  };
  for (auto& [item, spec] : recvItems) {
    auto [name, text, value] = spec;
    *item = RadioItem(recv, recvGroup, name, text);
    connect(*item, &QAction::triggered, this, [this, a = *item, v = value] { RecvClick(a, v); });
  }
  RecvOFF->setChecked(true);

  QMenu* coding = Menu->addMenu("Кодировка");
  coding->setObjectName("N1");
  auto* codingGroup = new QActionGroup(this);
  MTK2 = RadioItem(coding, codingGroup, "MTK2", "МТК-2");
  MTK5RU = RadioItem(coding, codingGroup, "MTK5RU", "МТК-5  Рус");
  MTK5EN = RadioItem(coding, codingGroup, "MTK5EN", "МТК-5 Англ");
  ASCII = RadioItem(coding, codingGroup, "ASCII", "ASCII");
  DecOff = RadioItem(coding, codingGroup, "DecOff", "Откл");
  DecOff->setChecked(true);
  // Choosing an alphabet only checks it: it acts on the characters received from then on.
  for (QAction* a : codingGroup->actions()) connect(a, &QAction::triggered, a, [a] { a->setChecked(true); });

  Editor = new TMessagePane(this);
  Editor->setObjectName("Editor");
  Editor->setAccessibleName("Принятые сообщения");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setMenuBar(Menu);
  layout->addWidget(Editor);

  SaveDialog = new TSaveDialog(this, "SaveDialog", "txt", {"Text (*.txt)", "All Files (*.*)"});
  FormShow = [this] { FormShowFirst(); };
}

QAction* TDecoder::RadioItem(QMenu* menu, QActionGroup* group, const char* name, const QString& text) {
  QAction* a = menu->addAction(text);
  a->setObjectName(name);
  a->setCheckable(true);
  group->addAction(a);
  return a;
}

void TDecoder::FormShowFirst() {
  // The persisted values are loaded at the first showing, and kept from then on; a window
  // never shown leaves what the file holds as it was.
  if (!loaded_) {
    loaded_ = true;
    SetPersisted({"Recv7d5.Checked", "Recv9.Checked", "Recv10.Checked", "Recv11.Checked", "RecvOFF.Checked",
                  "MTK2.Checked", "MTK5RU.Checked", "MTK5EN.Checked", "ASCII.Checked", "DecOff.Checked",
                  "SaveDialog.FileName", "SaveDialog.FilterIndex"});
    Storage()->Restore(ProgramIni());
    // A file edited by hand may leave a menu with nothing checked: its default then.
    if (!RecvOFF->actionGroup()->checkedAction()) RecvOFF->setChecked(true);
    if (!DecOff->actionGroup()->checkedAction()) DecOff->setChecked(true);
  }
  SendReceiveMode();
}

bool TDecoder::Receiving() const { return isVisible() && !RecvOFF->isChecked(); }

void TDecoder::ReceiveCharacter(uint8_t character) {
  const QString text = CharacterText(character);
  if (!text.isEmpty()) Editor->Append(text);
}

QString TDecoder::CharacterText(uint8_t character) {
  if (DecOff->isChecked()) return alphabet::HexText(character);
  if (ASCII->isChecked()) return alphabet::Cp1251Char(character);
  if (MTK2->isChecked()) return alphabet::Mtk2Text(character, Mtk2Register);
  // Under "МТК-5  Рус" a byte with the top bit set shows its own entry, the Latin half, so the
  // two МТК-5 choices mirror each other.
  if (MTK5RU->isChecked()) return alphabet::Cp1251Char(Mtk5Table[character]);
  if (MTK5EN->isChecked()) return alphabet::Cp1251Char(Mtk5Table[uint8_t(character ^ 0x80)]);
  return {};
}

void TDecoder::RecvClick(QAction* item, int value) {
  item->setChecked(true);
  SendCommand(cmd::DecoderMode, value);
}

void TDecoder::SendReceiveMode() {
  const std::pair<QAction*, int> order[] = {{Recv7d5, 1}, {Recv9, 2}, {Recv10, 3}, {Recv11, 4}, {RecvOFF, 0}};
  for (auto [item, value] : order)
    if (item->isChecked()) {
      RecvClick(item, value);
      return;
    }
}

void TDecoder::ClearClick() { Editor->Clear(); }

void TDecoder::SaveClick() {
  if (!SaveDialog->FileName.isEmpty() && QFileInfo::exists(SaveDialog->FileName))
    WriteTo(SaveDialog->FileName);
  else
    SaveAsClick();
}

void TDecoder::SaveAsClick() {
  if (SaveDialog->Execute(this)) WriteTo(SaveDialog->FileName);
}

void TDecoder::QuitClick() { close(); }

bool TDecoder::WriteTo(const QString& path) {
  QString text = Editor->Text();
  text.replace('\n', QStringLiteral("\r\n"));
  if (win32::WriteFileAtomically(path, win32::EncodeCp1251(text))) return true;
  QMessageBox::warning(this, windowTitle(),
                       "Не удалось записать файл\n" + path +
                           "\n\nПрежнее содержимое файла не изменено, принятый текст остался в окне.");
  return false;
}
