#include "KivAbout.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

using namespace framebrowser;

namespace {

TEST(AboutBoxTest, NamesTheComponentAndItsVersion) {
  auto box = CreateAboutBox("KivDecoder", "6.5c");
  EXPECT_EQ(box->windowTitle(), "About KivDecoder");
  EXPECT_EQ(box->Label1->text(), "KivDecoder - Version 6.5c ");
  EXPECT_EQ(box->Label2->text(), "Morlenta Standard ");
  EXPECT_TRUE(box->Label3->text().startsWith("Copyright"));
  EXPECT_EQ(box->Label4->text(), "https://kiv.example.org ");
  EXPECT_EQ(box->btnOK->text(), "&Close");
  EXPECT_EQ(box->btnOK->geometry(), QRect(198, 120, 75, 25));
  EXPECT_EQ(box->size(), QSize(291, 160));
  EXPECT_EQ(box->Label4->palette().color(QPalette::WindowText), QColor(0, 0, 255));
}

TEST(AboutBoxTest, WithoutAVersionTheLineIsTheNameAndOneBlank) {
  EXPECT_EQ(CreateAboutBox("KivLogger", "")->Label1->text(), "KivLogger ");
}

TEST(AboutBoxTest, ALongNameWidensTheBoxToTenPixelsPastTheLine) {
  auto box = CreateAboutBox(std::string(80, 'W'), "6.5c");
  EXPECT_GT(box->width(), 291);
  EXPECT_EQ(box->width(), box->Label1->x() + box->Label1->width() + 10);
}

TEST(AboutBoxTest, TheLinkTurnsRedUnderThePointer) {
  auto box = CreateAboutBox("KivDecoder", "");
  box->Label4MouseEnter(box->Label4);
  EXPECT_EQ(box->Label4->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  box->Label4MouseLeave(box->Label4);
  EXPECT_EQ(box->Label4->palette().color(QPalette::WindowText), QColor(0, 0, 255));
}

}  // namespace
