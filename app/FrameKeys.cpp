#include "FrameKeys.h"

namespace framebrowser {

TFrameCommand CommandForKey(int AKey, Qt::KeyboardModifiers AModifiers, TKeyFocus AFocus) {
  using enum TFrameCommand;
  if (AFocus == TKeyFocus::TextField) return None;
  // Keys of the keypad count as the same keys.
  const Qt::KeyboardModifiers modifiers = AModifiers & ~Qt::KeypadModifier;
  const bool plain = modifiers == Qt::NoModifier;
  const bool logPane = AFocus == TKeyFocus::LogPane || AFocus == TKeyFocus::LogPaneSelection;
  if (modifiers == Qt::ControlModifier) {
    switch (AKey) {
      case Qt::Key_G:
        return GoTo;
      case Qt::Key_O:
        return Open;
      case Qt::Key_S:
        return Save;
      case Qt::Key_C:
        return AFocus == TKeyFocus::LogPaneSelection ? None : CopyPicture;
      default:
        break;
    }
  }
  if (plain && AKey == Qt::Key_Period) return NextFrame;
  if (plain && AKey == Qt::Key_Comma) return PreviousFrame;
  if (logPane) return None;
  const bool keyFrame = modifiers == Qt::ShiftModifier || modifiers == Qt::ControlModifier;
  switch (AKey) {
    case Qt::Key_Right:
      return plain ? NextFrame : keyFrame ? NextKeyFrame : None;
    case Qt::Key_Left:
      return plain ? PreviousFrame : keyFrame ? PreviousKeyFrame : None;
    case Qt::Key_Home:
      return plain ? FirstFrame : None;
    case Qt::Key_End:
      return plain ? LastFrame : None;
    default:
      return None;
  }
}

bool IsStepCommand(TFrameCommand ACommand) {
  switch (ACommand) {
    case TFrameCommand::NextFrame:
    case TFrameCommand::PreviousFrame:
    case TFrameCommand::NextKeyFrame:
    case TFrameCommand::PreviousKeyFrame:
      return true;
    default:
      return false;
  }
}

}  // namespace framebrowser
