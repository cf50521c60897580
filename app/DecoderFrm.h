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
#include <memory>
#include <vector>

#include "KivBitmap.h"
#include "KivDecode.h"
#include "KivLog.h"

class QComboBox;
class QFileDialog;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace framebrowser {

// The picture area: shows its drawing surface, a bitmap of its own size, and reports clicks.
class TPictureArea : public QWidget {
  Q_OBJECT
 public:
  explicit TPictureArea(QWidget* AParent);
  QImage& Surface() { return FSurface; }
  const QImage& Surface() const { return FSurface; }

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
  explicit TfrmDecoder(QWidget* AParent = nullptr);
  ~TfrmDecoder() override;

  // What Open does once a file is chosen: loads the media libraries when needed, closes the
  // previous file, opens AFileName and shows its report and first picture. The command line
  // and dropped files come in here too. False when the libraries or the file do not load.
  bool OpenMediaFile(const QString& AFileName);
  // What Save does once a name is chosen: BMP for a ".bmp" name, JPEG for any other. False,
  // after a line in the log pane, when nothing is held or the file cannot be written.
  bool SavePicture(const QString& AFileName);
  // The actual-size view of the current picture, or null when no picture is held.
  std::unique_ptr<QDialog> CreateActualSizeView();

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
  void resizeEvent(QResizeEvent* AEvent) override;
  void dragEnterEvent(QDragEnterEvent* AEvent) override;
  void dropEvent(QDropEvent* AEvent) override;

 private:
  void FormCreate();
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
  void DrawFitted(QImage& ASurface, const kiv::TBitmap& ABitmap);

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
};

}  // namespace framebrowser
