// The window-wide keys of the Frame Browser: which command a key press stands for, given the
// kind of widget that has the focus, and the gate that keeps held keys from piling up steps.
#pragma once

#include <Qt>
#include <cstdint>

namespace framebrowser {

enum class TFrameCommand {
  None,
  NextFrame,
  PreviousFrame,
  NextKeyFrame,
  PreviousKeyFrame,
  FirstFrame,
  LastFrame,
  GoTo,
  Open,
  Save,
  CopyPicture,
};

// What kind of widget has the focus when a key is pressed.
enum class TKeyFocus {
  Other,
  LogPane,           // the log pane: its caret keys stay its own
  LogPaneSelection,  // the log pane with selected text: Ctrl+C copies that text
  TextField,         // a field the user types into: every key stays its own
};

// The command of a key press; None leaves the key to the focused widget.
//   . ,                          next / previous picture
//   Right Left                   the same (not in the log pane)
//   Shift or Ctrl + Right Left   next / previous key frame (not in the log pane)
//   Home End                     first / last picture (not in the log pane)
//   Ctrl+G Ctrl+O Ctrl+S Ctrl+C  go to, open, save, copy the picture
TFrameCommand CommandForKey(int AKey, Qt::KeyboardModifiers AModifiers, TKeyFocus AFocus);

// Whether a command steps through the pictures (and so may be repeated by a held key).
bool IsStepCommand(TFrameCommand ACommand);

// Keeps a held key from piling up steps: the repeats that the keyboard sends while a step is
// still running are dropped instead of being run one after another once it ends. Times are
// the key events' own time stamps (milliseconds).
class TRepeatGate {
 public:
  // Whether a key press is to be run: every first press is; a repeat only when it was sent
  // after the last step ended.
  bool Admit(bool AAutoRepeat, uint64_t ATimestamp) const {
    return !AAutoRepeat || ATimestamp >= FBusyUntil;
  }
  // A step started by the press sent at AStartTimestamp has run for AElapsed milliseconds.
  void StepDone(uint64_t AStartTimestamp, int64_t AElapsed) {
    FBusyUntil = AStartTimestamp + uint64_t(AElapsed > 0 ? AElapsed : 0);
  }

 private:
  uint64_t FBusyUntil = 0;
};

}  // namespace framebrowser
