#include "FrameKeys.h"

#include <gtest/gtest.h>

using namespace framebrowser;

namespace {

TEST(FrameKeysTest, MapsKeysToCommandsByTheFocusedWidget) {
  using enum TFrameCommand;
  using F = TKeyFocus;
  const Qt::KeyboardModifiers none = Qt::NoModifier, shift = Qt::ShiftModifier,
                              ctrl = Qt::ControlModifier, alt = Qt::AltModifier,
                              keypad = Qt::KeypadModifier;
  struct {
    const char* Name;
    int Key;
    Qt::KeyboardModifiers Modifiers;
    TKeyFocus Focus;
    TFrameCommand Command;
  } const cases[] = {
      {". steps on", Qt::Key_Period, none, F::Other, NextFrame},
      {", steps back", Qt::Key_Comma, none, F::Other, PreviousFrame},
      {". also in the log pane", Qt::Key_Period, none, F::LogPane, NextFrame},
      {"keypad .", Qt::Key_Period, keypad, F::Other, NextFrame},
      {"Right", Qt::Key_Right, none, F::Other, NextFrame},
      {"Left", Qt::Key_Left, none, F::Other, PreviousFrame},
      {"keypad Right", Qt::Key_Right, keypad, F::Other, NextFrame},
      {"Shift+Right", Qt::Key_Right, shift, F::Other, NextKeyFrame},
      {"Shift+Left", Qt::Key_Left, shift, F::Other, PreviousKeyFrame},
      {"Ctrl+Right", Qt::Key_Right, ctrl, F::Other, NextKeyFrame},
      {"Ctrl+Left", Qt::Key_Left, ctrl, F::Other, PreviousKeyFrame},
      {"Alt+Right is not ours", Qt::Key_Right, alt, F::Other, None},
      {"Ctrl+Shift+Right is not ours", Qt::Key_Right, ctrl | shift, F::Other, None},
      {"Home", Qt::Key_Home, none, F::Other, FirstFrame},
      {"End", Qt::Key_End, none, F::Other, LastFrame},
      {"Ctrl+G", Qt::Key_G, ctrl, F::Other, GoTo},
      {"Ctrl+O", Qt::Key_O, ctrl, F::Other, Open},
      {"Ctrl+S", Qt::Key_S, ctrl, F::Other, Save},
      {"Ctrl+C", Qt::Key_C, ctrl, F::Other, CopyPicture},
      {"a plain letter", Qt::Key_G, none, F::Other, None},
      {"Right moves the log pane's caret", Qt::Key_Right, none, F::LogPane, None},
      {"Shift+Left selects in the log pane", Qt::Key_Left, shift, F::LogPane, None},
      {"Home in the log pane", Qt::Key_Home, none, F::LogPane, None},
      {"Ctrl+G from the log pane", Qt::Key_G, ctrl, F::LogPane, GoTo},
      {"Ctrl+C copies the picture from the log pane", Qt::Key_C, ctrl, F::LogPane, CopyPicture},
      {"Ctrl+C copies selected log text", Qt::Key_C, ctrl, F::LogPaneSelection, None},
      {". types into a text field", Qt::Key_Period, none, F::TextField, None},
      {"Right in a text field", Qt::Key_Right, none, F::TextField, None},
      {"Ctrl+G in a text field", Qt::Key_G, ctrl, F::TextField, None},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CommandForKey(c.Key, c.Modifiers, c.Focus), c.Command) << c.Name;
}

TEST(FrameKeysTest, RepeatsSentWhileAStepRanAreDropped) {
  TRepeatGate gate;
  EXPECT_TRUE(gate.Admit(true, 0)) << "nothing ran yet";
  // A step started by the press at 1000 ms ran for 300 ms: the keyboard's repeats at 1030,
  // 1060, ... waited in the queue meanwhile.
  gate.StepDone(1000, 300);
  EXPECT_FALSE(gate.Admit(true, 1030));
  EXPECT_FALSE(gate.Admit(true, 1299));
  EXPECT_TRUE(gate.Admit(true, 1300)) << "sent after the step ended";
  EXPECT_TRUE(gate.Admit(false, 1030)) << "a fresh press always counts";
  gate.StepDone(1300, -5);
  EXPECT_TRUE(gate.Admit(true, 1300)) << "a clock going back counts as no time";
}

TEST(FrameKeysTest, OnlyFrameMovesAreSteps) {
  using enum TFrameCommand;
  for (TFrameCommand c : {NextFrame, PreviousFrame, NextKeyFrame, PreviousKeyFrame})
    EXPECT_TRUE(IsStepCommand(c));
  for (TFrameCommand c : {None, FirstFrame, LastFrame, GoTo, Open, Save, CopyPicture})
    EXPECT_FALSE(IsStepCommand(c));
}

}  // namespace
