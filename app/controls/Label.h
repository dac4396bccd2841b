// A named caption label at a fixed place, as the windows lay out their captions.
#pragma once

#include <QLabel>
#include <QRect>

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect place,
                  Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter);
