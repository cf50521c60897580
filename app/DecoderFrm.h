// The Frame Browser's main window: opens a media file, writes its report into the log pane,
// shows the current picture fitted into the picture area and steps, seeks and saves.
#pragma once

#include <QDialog>
#include <QImage>
#include <QSlider>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "FrameKeys.h"
#include "FrameStatus.h"
#include "KivBitmap.h"
#include "KivDecode.h"
#include "KivLog.h"

class QComboBox;
class QFileDialog;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace framebrowser {

// The picture area: shows its drawing surface, a bitmap of its own size, and reports clicks.
class TPictureArea : public QWidget {
  Q_OBJECT
 public:
  explicit TPictureArea(QWidget* AParent);
  QImage& Surface() { return FSurface; }
  const QImage& Surface() const { return FSurface; }
  // A new surface of the area's size, in the screen's own pixels (two per side at 200 %
  // scaling), so that a picture drawn into it stays sharp.
  void NewSurface();

 signals:
  void Clicked();

 protected:
  void paintEvent(QPaintEvent* AEvent) override;
  void mouseReleaseEvent(QMouseEvent* AEvent) override;

 private:
  QImage FSurface;
};

// A horizontal slider whose thumb is drawn only while it is enabled.
class TTrackBar : public QSlider {
 public:
  explicit TTrackBar(QWidget* AParent);
};

class TfrmDecoder : public QWidget {
  Q_OBJECT
 public:
  // The status line below the slider adds this much to the designed client area.
  static constexpr int StatusLineHeight = 20;

  explicit TfrmDecoder(QWidget* AParent = nullptr);
  ~TfrmDecoder() override;

  // What Open does once a file is chosen: loads the media libraries when needed, closes the
  // previous file, opens AFileName and shows its report and first picture. The command line
  // and dropped files come in here too. False when the libraries or the file do not load.
  bool OpenMediaFile(const QString& AFileName);
  // What Save does once a name is chosen: BMP for a ".bmp" name, JPEG for any other. False,
  // after a line in the log pane, when nothing is held or the file cannot be written.
  bool SavePicture(const QString& AFileName);
  // The actual-size view of the current picture, or null when no picture is held. It fits
  // the screen, scrolls and zooms.
  std::unique_ptr<QDialog> CreateActualSizeView();
  // Goes to a time (hh:mm:ss.mmm) or a picture number, as typed into the go-to box. False
  // when the text is neither (the status line says so) or going there failed.
  bool GoTo(const QString& AText);
  // What a window-wide key does; the keys are in FrameKeys.h.
  void RunCommand(TFrameCommand ACommand);
  // Empties the log pane (its context menu offers this).
  void ClearLog();
  // Sets the save dialog up as Save shows it: in the opened file's folder, with its name.
  void PrepareSaveDialog();

  // The widgets, by their names in the window's design.
  QPushButton* btnOpen;
  QPushButton* btnSave;
  QPushButton* btnNextFrame;
  QPushButton* btnPreviousFrame;
  QPushButton* btnNextKF;
  QPushButton* btnPreviousKF;
  QPushButton* btnWebSite;
  QPushButton* btnExit;
  QComboBox* cboLogLevel;
  QLabel* lblPTS;
  // The status line: which picture is on show, and what the window is doing.
  QLabel* lblFrameStatus;
  QLabel* lblState;
  QPlainTextEdit* mmoLog;
  TPictureArea* Image1;
  TTrackBar* TrackBar1;
  QFileDialog* OpenDialog1;
  QFileDialog* SavePictureDialog1;

  kiv::TKivDecoder& KivDecoder() { return *FKivDecoder; }
  kiv::TKivLogger& KivLogger() { return *FKivLogger; }
  const kiv::TBitmap& Bitmap() const { return FBitmap; }
  int64_t Duration() const { return FDuration; }
  int Frames() const { return FFrames; }
  int64_t CurrentPTS() const { return FCurrentPTS; }
  int LastPosition() const { return FLastPosition; }
  // The lines of the log pane.
  QStringList LogLines() const;

 private slots:
  void btnOpenClick();
  void btnSaveClick();
  void btnNextFrameClick();
  void btnPreviousFrameClick();
  void btnNextKFClick();
  void btnPreviousKFClick();
  void btnWebSiteClick();
  void btnExitClick();
  void cboLogLevelChange(int AIndex);
  void TrackBar1Change(int APosition);
  void Image1Click();

 protected:
  bool eventFilter(QObject* AObject, QEvent* AEvent) override;
  void resizeEvent(QResizeEvent* AEvent) override;
  void dragEnterEvent(QDragEnterEvent* AEvent) override;
  void dropEvent(QDropEvent* AEvent) override;

 private:
  void FormCreate();
  // The window's caption without a file.
  std::string Caption() const;
  void FormResize();
  void FormDestroy();
  void KivLoggerLog(kiv::TComponent* Sender, int32_t AThreadID, kiv::TLogLevel ALogLevel,
                    const std::string& ALogMsg);

  void ResetView();
  void UpdateTrackBar();
  void ShowFrame();
  void SeekTo(int64_t APTS);
  void DecodeNext();
  void DecodePrevious();
  // ShowFrame after a successful decoding call, the failure line after a failed one.
  void ShowDecoded(bool ADecoded);
  // The failure line of a decoding call; the end of the stream also shows as such.
  void DecodeFailed();
  void DrawFitted(QImage& ASurface, const kiv::TBitmap& ABitmap);
  // Moves the slider to the picture time APTS without acting on the move.
  void MoveSliderTo(int64_t APTS);
  // Runs AWork with the busy cursor and "Working..." on the status line.
  void RunBusy(const std::function<void()>& AWork);
  // Exact picture number ANumber, by the frame index.
  void GoToFrame(int64_t ANumber);
  void GoToLastFrame();
  void ShowGoToBox();
  void CopyPicture();
  TKeyFocus FocusKindOf(QWidget* AWidget) const;

  // The status line: the picture on show, and the state (busy, end of stream, indexing).
  void UpdateFrameStatus();
  void UpdateState();
  // Takes the exact picture count once the frame index is complete; polled by FIndexTimer.
  void PollFrameIndex();

  bool LoadLibraries();
  void WriteStreamSummary();
  void AppendLine(const std::string& ALine);
  void AppendFailure(const char* APrefix);
  void ClearSurface();
  void ApplyAnchors();

  // Edges of the client area a widget keeps its distance to.
  enum TAnchor { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
  struct TAnchoredWidget {
    QWidget* Widget;
    QRect Design;  // geometry in the designed client area
    int Anchors;
  };
  void Place(QWidget* AWidget, int ALeft, int ATop, int AWidth, int AHeight,
             int AAnchors = akLeft | akTop);
  std::vector<TAnchoredWidget> FAnchored;

  // Owns the decoder and the logger, as the window owns its components.
  kiv::TComponent FComponents{nullptr};
  kiv::TKivDecoder* FKivDecoder;
  kiv::TKivLogger* FKivLogger;

  kiv::TBitmap FBitmap;
  int64_t FDuration = 0;
  int FFrames = 0;
  bool FChanging = false;
  int64_t FCurrentPTS = 0;
  int FLastPosition = 0;

  bool FCreated = false;
  QString FOpenedFileName;

  int FEstimatedFrames = 0;      // the estimate FFrames started from
  bool FExactFrames = false;     // FFrames holds the exact count
  AVRational FPictureSAR{0, 1};  // sample aspect ratio of the picture on show
  TFrameStatus FStatus;
  bool FHasStatus = false;  // a picture has been shown since the last reset
  uint64_t FPicturesShown = 0;
  bool FBusy = false;
  bool FEndOfStream = false;
  QString FNotice;  // a one-off message of the last command
  QTimer* FIndexTimer;
  TRepeatGate FRepeatGate;
};

}  // namespace framebrowser
