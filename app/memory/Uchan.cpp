#include "app/memory/Uchan.h"

#include "app/panel/Umain.h"

TChan* Chan = nullptr;

TChan::TChan() : TToolWindow("TChan", "Память", {360, 300}) {
  Chan = this;
  FormClose = [] {
    if (Main) Main->BtnChan->SetDown(false);
  };
}
