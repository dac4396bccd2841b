#include "app/memory/Upanorama.h"

#include "app/panel/Umain.h"

TPanorama* Panorama = nullptr;

TPanorama::TPanorama() : TToolWindow("TPanorama", "Амплитудно-частотная панорама", {620, 330}) {
  Panorama = this;
  FormClose = [] {
    if (Main) Main->BtnPan->SetDown(false);
  };
}
