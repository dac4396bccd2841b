// The memory window TChan: stores the receiver's current setting as a numbered, named channel
// in "Channels.ini", lists the stored channels, recalls one into the receiver when it is
// picked, overwrites the picked one and erases them all. Its lower group scans the channels:
// every dwell time it recalls the next one, wrapping at the ends, until the strongest signal
// of the spectrum reaches the stop threshold.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <memory>

#include "app/controls/ComboBox.h"
#include "app/controls/PictureButton.h"
#include "app/controls/SpinEdit.h"
#include "app/controls/ToolWindow.h"

namespace win32 {
class IniFile;
}

class TChan : public TToolWindow {
  Q_OBJECT
 public:
  TChan();
  ~TChan() override;

  // ---- Controls, in the order of the window's layout.
  QGroupBox* GroupChannel;  // "Канал"
  TComboBox* ChanList;
  QGroupBox* GroupSave;  // "Сохранение"
  QLabel* Label1;
  QLineEdit* SaveChanName;
  TPictureButton* SaveChanCurrent;
  QLabel* Label3;
  TPictureButton* SaveChanLast;
  QLabel* SaveChanNo;
  TPictureButton* EraseAll;
  QLabel* Label6;
  QGroupBox* GroupScan;  // "Сканирование"
  TPictureButton* ScanLeft;
  TPictureButton* ScanPause;
  TPictureButton* ScanStop;
  TPictureButton* ScanRight;
  QLabel* LblTime;
  TSpinEdit* Time;
  QLabel* LblPorog;
  TSpinEdit* Porog;
  QLabel* Label5;
  QTimer* ScanTimer;

  // ---- State besides the controls.
  int ChannelCount = 0;    // "Total" of the file
  int CurrentChannel = 0;  // last recalled by the list or the scanner, 1-based; 0 at start
  int ScanDirection = 0;   // +1, -1; 0 before the first start

  // ---- Channel memory.
  // Opens the channel file at `path` and shows what it holds (the creation of the window
  // does this with ChannelMemoryPath()).
  void OpenChannelFile(const QString& path);
  const win32::IniFile& ChannelFile() const { return *file_; }
  void LoadChannelList();
  void StoreChannel(int n);
  void RecallChannel(int n);

  // ---- Handlers.
  void SaveChanLastClick();
  void SaveChanCurrentClick();
  void ChanListSelect();
  void EraseAllClick();
  void OnFormClose();
  void ScanRightClick();
  void ScanLeftClick();
  void ScanPauseClick();
  void ScanStopClick();
  void ScanTimerTimer();

 private:
  void CreateControls();
  void ConnectHandlers();
  void ShowNextNumber();
  // The list as LoadChannelList() leaves it after channel n was stored, building only that
  // channel's line while the file holds nothing but this window's own writes.
  void LoadChannelLine(int n);
  void StartScan(int direction);
  // Writes what the batch around it gathered; on failure says once what was not done
  // (`what`) and why, and shows the file as the disk holds it. False when the write failed.
  bool Commit(const QString& what);
  void Tell(const QString& text);

  std::unique_ptr<win32::IniFile> file_;
  int listReadCount_ = 0;  // the file's ReadCount() when the list was last built whole
};

extern TChan* Chan;
