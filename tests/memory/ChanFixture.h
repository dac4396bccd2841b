// The memory window in one life of the whole program: its channel file in a folder of the
// test's own, the serial link on a test receiver that collects the commands.
#pragma once

#include <QFile>
#include <QMessageBox>
#include <QStringList>
#include <QTemporaryDir>

#include "app/memory/Uchan.h"
#include "tests/memory/ProgramFixture.h"

class ChanFixture : public ProgramFixture {
 protected:
  void SetUp() override {
    ProgramFixture::SetUp();
    path_ = files_.path() + "/Channels.ini";
    Chan->OpenChannelFile(path_);
    Chan->show();
    receiver_.Take(30);
  }
  void TearDown() override { Chan->ScanPause->PerformClick(); }

  // Puts `bytes` in the channel file and opens it as the window's creation does.
  void UseFile(const QByteArray& bytes) {
    QFile f(path_);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();
    Chan->OpenChannelFile(path_);
    receiver_.Take(30);
  }
  QByteArray FileBytes() const {
    QFile f(path_);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }
  static QStringList ListLines() {
    QStringList lines;
    for (int i = 0; i < Chan->ChanList->count(); ++i) lines << Chan->ChanList->itemText(i);
    return lines;
  }
  static int MessageCount() {
    int n = 0;
    for (QMessageBox* box : Chan->findChildren<QMessageBox*>()) n += box->isVisible();
    return n;
  }
  // The text of the message box the window shows now (closing it), or nothing.
  static QString TakeMessage() {
    QString text;
    for (QMessageBox* box : Chan->findChildren<QMessageBox*>())
      if (box->isVisible()) {
        text += box->text();
        box->close();
      }
    return text;
  }

  QTemporaryDir files_;
  QString path_;
};
