// The IQ window TIQ: the raw I and Q samples of each sample block, as two waveforms
// across 1024 pixels at a chosen vertical scale, or as the numbers of the first 20 pairs.
#pragma once

#include <QFrame>
#include <QImage>
#include <QPoint>
#include <QWidget>

#include <cstdint>

class QCheckBox;
class QComboBox;

// A framed picture that shows its image; the owner draws into Picture() and calls update().
class IqPicture : public QFrame {
 public:
  IqPicture(int width, int height, QWidget* parent);
  QImage& Picture() { return picture_; }
  const QImage& Picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QImage picture_;
};

class TIQ : public QWidget {
 public:
  static constexpr int kPairs = 1024;     // pairs of one sample block
  static constexpr int kNumberPairs = 20; // pairs shown in the numbers view

  explicit TIQ(QWidget* parent = nullptr);

  // Draws one sample block (2048 samples, I then Q in every pair).
  void ShowIqBlock(const int16_t* block);

  // Controls, named as the persisted-properties store names them.
  IqPicture* IQWin;
  QComboBox* VScale;   // "Числа" or the sample value that spans the full height
  QCheckBox* IOn;
  QCheckBox* QOn;

 private:
  void FormCreate();
  void ShowNumbers(const int16_t* block);
  void ShowWaveforms(const int16_t* block, int span);

  QPoint iPoints_[kPairs];
  QPoint qPoints_[kPairs];
};
