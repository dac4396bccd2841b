// Tool windows: their show action runs when they are shown, not when the window system
// restores them from the task bar; one that was never shown keeps the place in the file.
#include <gtest/gtest.h>

#include <QApplication>
#include <QShowEvent>
#include <QTemporaryDir>

#include "app/controls/ToolWindow.h"
#include "platform/win32/IniFile.h"

namespace {

TEST(ToolWindow, ShowActionRunsOnShowingNotOnRestoringFromTheTaskBar) {
  TToolWindow w("TProbe", "Проба", {120, 80});
  int shows = 0;
  w.FormShow = [&] { ++shows; };
  w.show();
  EXPECT_EQ(shows, 1);
  w.showMinimized();  // the window state change Qt turns into the window system's show event
  w.showNormal();
  EXPECT_FALSE(w.isMinimized());
  EXPECT_EQ(shows, 1);
  w.hide();
  w.show();
  EXPECT_EQ(shows, 2);
}

TEST(ToolWindow, ANeverShownWindowKeepsThePlaceInTheFile) {
  QTemporaryDir dir;
  win32::IniFile ini(dir.path() + "/a.ini");
  ini.WriteInteger("TNever", "Left", 300);
  ini.WriteInteger("TNever", "Top", 200);

  TToolWindow never("TNever", "Никогда", {120, 80});
  never.SetPersisted({});
  never.Storage()->Save(ini);
  EXPECT_EQ(ini.ReadInteger("TNever", "Left"), 300);
  EXPECT_EQ(ini.ReadInteger("TNever", "Top"), 200);

  TToolWindow fresh("TFresh", "Новое", {120, 80});  // no place in the file either
  fresh.SetPersisted({});
  fresh.Storage()->Save(ini);
  EXPECT_FALSE(ini.KeyExists("TFresh", "Left"));

  never.Storage()->RestorePlacement(ini);  // placed, even if not shown: its place is kept
  never.Storage()->Save(ini);
  EXPECT_EQ(ini.ReadInteger("TNever", "Left"), 300);

  TToolWindow shown("TShown", "Показано", {120, 80});
  shown.SetPersisted({});
  shown.move(40, 50);
  shown.show();
  shown.Storage()->Save(ini);
  EXPECT_EQ(ini.ReadInteger("TShown", "Left"), 40);
  EXPECT_EQ(ini.ReadInteger("TShown", "Top"), 50);
}

}  // namespace
