#include "DecoderFrm.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStyleOptionSlider>
#include <QTextEdit>
#include <QTimer>
#include <QUrl>
#include <climits>
#include <functional>

#include "FrameLogic.h"
#include "GoToTarget.h"
#include "MakerInfo.h"
#include "MyUtils.h"
#include "PictureFiles.h"
#include "ZoomView.h"

namespace framebrowser {

namespace {

// The maker's web site address; chosen when the window is created.
std::string WebSiteAddress;

// The designed client area of the buttons, the panes and the slider; the status line lies
// below it.
constexpr int DesignWidth = 681;
constexpr int DesignHeight = 408;
constexpr int WindowHeight = DesignHeight + TfrmDecoder::StatusLineHeight;
// Room the actual-size view leaves on the screen for its title bar and borders.
const QSize ViewFrameAllowance(32, 64);
// How often the status line looks at the frame index while it is being built (ms).
constexpr int IndexPollInterval = 200;
const char* const WorkingText = "Working...";
const char* const EndOfStreamText = "End of stream";
const QColor SurfaceColor(166, 202, 240);

const char* const OpenFilter =
    "Video/Audio/Picture "
    "Files|*.3GP;*.ASF;*.AVI;*.AVM;*.AVS;*.DAT;*.FLV;*.MKV;*.MOV;*.MP4;*.MPEG;*.MPG;*.NSV;*.OGM;"
    "*.RM;*.RMVB;*.TP;*.TS;*.VOB;*.WMV;*.AAC;*.AC3;*.APE;*.DTS;*.FLAC;*.M4A;*.MKA;*.MP2;*.MP3;*."
    "MPA;*.MPC;*.OFR;*.OGG;*.RA;*.TTA;*.WAV;*.WMA;*.BMP;*.GIF;*.JPEG;*.JPG;*.PNG;|Video "
    "Files|*.3GP;*.ASF;*.AVI;*.AVM;*.AVS;*.DAT;*.FLV;*.MKV;*.MOV;*.MP4;*.MPEG;*.MPG;*.NSV;*.OGM;"
    "*.RM;*.RMVB;*.TP;*.TS;*.VOB;*.WMV;|Audio "
    "Files|*.AAC;*.AC3;*.APE;*.DTS;*.FLAC;*.M4A;*.MKA;*.MP2;*.MP3;*.MPA;*.MPC;*.OFR;*.OGG;*.RA;*."
    "TTA;*.WAV;*.WMA;|Picture Files|*.BMP;*.GIF;*.JPEG;*.JPG;*.PNG;|All Files|*.*";
const char* const SaveFilter = "Bitmaps (*.bmp)|*.bmp|JPEG Image File |*.jpg;*.jpeg";

const char* const SettingsOrganization = "Kiv";
const char* const SettingsApplication = "framebrowser";
const char* const OpenFolderKey = "OpenDialog/Folder";

const char* const LogLevelItems[] = {"Quiet", "Panic",   "Fatal", "Error", "Warning",
                                     "Info",  "Verbose", "Debug", "Trace"};
static_assert(std::size(LogLevelItems) == kiv::LogLevelCount);

QStringList QtFilterList(const char* AFilter) {
  return QString::fromStdString(QtDialogFilter(AFilter)).split(";;");
}

// Runs AWork when the scope ends, also when it is left by an exception.
class TFinally {
 public:
  explicit TFinally(std::function<void()> AWork) : FWork(std::move(AWork)) {}
  ~TFinally() { FWork(); }
  TFinally(const TFinally&) = delete;
  TFinally& operator=(const TFinally&) = delete;

 private:
  std::function<void()> FWork;
};

// Draws a slider without its thumb while the slider is disabled; a click on its track moves
// the slider to the clicked point rather than by one page.
class TThumbStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint AHint, const QStyleOption* AOption, const QWidget* AWidget,
                QStyleHintReturn* AReturn) const override {
    if (AHint == SH_Slider_AbsoluteSetButtons) return Qt::LeftButton;
    return QProxyStyle::styleHint(AHint, AOption, AWidget, AReturn);
  }

  void drawComplexControl(ComplexControl AControl, const QStyleOptionComplex* AOption,
                          QPainter* APainter, const QWidget* AWidget) const override {
    if (AControl == CC_Slider && !(AOption->state & State_Enabled)) {
      if (const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(AOption)) {
        QStyleOptionSlider withoutThumb(*slider);
        withoutThumb.subControls &= ~SC_SliderHandle;
        QProxyStyle::drawComplexControl(AControl, &withoutThumb, APainter, AWidget);
        return;
      }
    }
    QProxyStyle::drawComplexControl(AControl, AOption, APainter, AWidget);
  }
};

}  // namespace

// ---- picture area and slider

TPictureArea::TPictureArea(QWidget* AParent) : QWidget(AParent) {}

void TPictureArea::NewSurface() {
  const qreal ratio = devicePixelRatioF();
  FSurface = QImage(size() * ratio, QImage::Format_RGB32);
  FSurface.setDevicePixelRatio(ratio);
}

void TPictureArea::paintEvent(QPaintEvent* /*AEvent*/) {
  QPainter painter(this);
  painter.drawImage(0, 0, FSurface);
}

void TPictureArea::mouseReleaseEvent(QMouseEvent* AEvent) {
  QWidget::mouseReleaseEvent(AEvent);
  if (AEvent->button() == Qt::LeftButton && rect().contains(AEvent->position().toPoint()))
    emit Clicked();
}

TTrackBar::TTrackBar(QWidget* AParent) : QSlider(Qt::Horizontal, AParent) {
  auto* style = new TThumbStyle;
  style->setParent(this);
  setStyle(style);
}

// ---- the window

TfrmDecoder::TfrmDecoder(QWidget* AParent) : QWidget(AParent) {
  FKivDecoder = new kiv::TKivDecoder(&FComponents);
  FKivLogger = new kiv::TKivLogger(&FComponents);
  FKivLogger->SetOnLog(
      [this](kiv::TComponent* Sender, int32_t AThreadID, kiv::TLogLevel ALogLevel,
             const std::string& ALogMsg) { KivLoggerLog(Sender, AThreadID, ALogLevel, ALogMsg); });

  QFont font("Tahoma");
  font.setPointSize(8);
  setFont(font);
  QPalette face = palette();
  face.setColor(QPalette::Window, face.color(QPalette::Button));
  setPalette(face);
  setAutoFillBackground(true);
  resize(DesignWidth, WindowHeight);

  auto button = [this](const char* AText, int ALeft, int AWidth) {
    auto* b = new QPushButton(AText, this);
    Place(b, ALeft, 8, AWidth, 25);
    return b;
  };
  btnOpen = button("Open", 16, 45);
  btnSave = button("Save", 60, 45);
  btnNextFrame = button("Next Frame", 104, 75);
  btnPreviousFrame = button("Previous Frame", 178, 95);
  btnNextKF = button("Next K-F", 272, 67);
  btnNextKF->setToolTip("Next Key-frame");
  btnPreviousKF = button("Previous K-F", 338, 75);
  btnPreviousKF->setToolTip("Previous Key-frame");
  btnWebSite = button("Web Site", 412, 67);
  btnExit = button("Exit", 478, 45);

  cboLogLevel = new QComboBox(this);
  Place(cboLogLevel, 533, 10, 57, 21);
  cboLogLevel->setEditable(false);
  for (const char* item : LogLevelItems) cboLogLevel->addItem(item);
  cboLogLevel->setCurrentIndex(kiv::llInfo);
  cboLogLevel->setToolTip("LogLevel");

  lblPTS = new QLabel(this);
  Place(lblPTS, 596, 13, 28, 13);

  mmoLog = new QPlainTextEdit(this);
  Place(mmoLog, 16, 47, 305, 304, akLeft | akTop | akBottom);
  mmoLog->setLineWrapMode(QPlainTextEdit::NoWrap);
  mmoLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mmoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mmoLog->setTabChangesFocus(true);
  mmoLog->setAcceptDrops(false);  // a dropped file opens in the window instead

  Image1 = new TPictureArea(this);
  Place(Image1, 327, 47, 340, 304, akLeft | akTop | akRight | akBottom);

  TrackBar1 = new TTrackBar(this);
  Place(TrackBar1, 16, 357, 651, 45, akLeft | akRight | akBottom);
  TrackBar1->setRange(0, 10);
  TrackBar1->setValue(0);
  TrackBar1->setTickPosition(QSlider::TicksBelow);

  lblFrameStatus = new QLabel(this);
  Place(lblFrameStatus, 16, DesignHeight, 440, StatusLineHeight - 3, akLeft | akBottom);
  lblState = new QLabel(this);
  Place(lblState, 460, DesignHeight, 207, StatusLineHeight - 3, akRight | akBottom);
  lblState->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  FIndexTimer = new QTimer(this);
  FIndexTimer->setInterval(IndexPollInterval);
  connect(FIndexTimer, &QTimer::timeout, this, &TfrmDecoder::PollFrameIndex);

  mmoLog->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(mmoLog, &QWidget::customContextMenuRequested, this, [this](const QPoint& APos) {
    std::unique_ptr<QMenu> menu(mmoLog->createStandardContextMenu());
    menu->addSeparator();
    menu->addAction("Clear", this, &TfrmDecoder::ClearLog);
    menu->exec(mmoLog->mapToGlobal(APos));
  });

  QWidget* tabOrder[] = {btnOpen,     btnSave,       btnNextFrame, btnPreviousFrame,
                         btnNextKF,   btnPreviousKF, btnWebSite,   btnExit,
                         cboLogLevel, mmoLog,        TrackBar1};
  for (size_t i = 1; i < std::size(tabOrder); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);

  OpenDialog1 = new QFileDialog(this);
  SavePictureDialog1 = new QFileDialog(this);

  connect(btnOpen, &QPushButton::clicked, this, &TfrmDecoder::btnOpenClick);
  connect(btnSave, &QPushButton::clicked, this, &TfrmDecoder::btnSaveClick);
  connect(btnNextFrame, &QPushButton::clicked, this, &TfrmDecoder::btnNextFrameClick);
  connect(btnPreviousFrame, &QPushButton::clicked, this, &TfrmDecoder::btnPreviousFrameClick);
  connect(btnNextKF, &QPushButton::clicked, this, &TfrmDecoder::btnNextKFClick);
  connect(btnPreviousKF, &QPushButton::clicked, this, &TfrmDecoder::btnPreviousKFClick);
  connect(btnWebSite, &QPushButton::clicked, this, &TfrmDecoder::btnWebSiteClick);
  connect(btnExit, &QPushButton::clicked, this, &TfrmDecoder::btnExitClick);
  connect(cboLogLevel, &QComboBox::currentIndexChanged, this, &TfrmDecoder::cboLogLevelChange);
  connect(TrackBar1, &QSlider::valueChanged, this, &TfrmDecoder::TrackBar1Change);
  connect(Image1, &TPictureArea::Clicked, this, &TfrmDecoder::Image1Click);

  setAcceptDrops(true);
  FormCreate();
  FCreated = true;
  // The keys act whichever of the window's widgets has the focus.
  qApp->installEventFilter(this);
}

TfrmDecoder::~TfrmDecoder() { FormDestroy(); }

void TfrmDecoder::Place(QWidget* AWidget, int ALeft, int ATop, int AWidth, int AHeight,
                        int AAnchors) {
  AWidget->setGeometry(ALeft, ATop, AWidth, AHeight);
  FAnchored.push_back({AWidget, QRect(ALeft, ATop, AWidth, AHeight), AAnchors});
}

void TfrmDecoder::ApplyAnchors() {
  const int dx = width() - DesignWidth, dy = height() - WindowHeight;
  for (const TAnchoredWidget& item : FAnchored) {
    QRect r = item.Design;
    auto follow = [](int& AStart, int& ALength, int ADelta, bool AStartEdge, bool AEndEdge) {
      if (AStartEdge && AEndEdge)
        ALength = std::max(0, ALength + ADelta);
      else if (AEndEdge)
        AStart += ADelta;
    };
    int left = r.left(), top = r.top(), w = r.width(), h = r.height();
    follow(left, w, dx, item.Anchors & akLeft, item.Anchors & akRight);
    follow(top, h, dy, item.Anchors & akTop, item.Anchors & akBottom);
    if (item.Widget == lblPTS) {
      item.Widget->move(left, top);  // the label keeps the size of its text
      continue;
    }
    item.Widget->setGeometry(left, top, w, h);
  }
}

std::string TfrmDecoder::Caption() const {
  return kiv::Format("Demo of KivDecoder %s - Morlenta", FKivDecoder->Version().c_str());
}

void TfrmDecoder::FormCreate() {
  // The application's title would be the task-bar text; the main window owns the task-bar
  // entry here, and Qt would append an application display name to every window title, so
  // the caption alone carries it.
  setWindowTitle(QString::fromStdString(Caption()));

  WebSiteAddress = MakerWebSiteAddress();
  mmoLog->setPlainText(QString::fromStdString(WebSiteAddress) + "\n");
  btnWebSite->setToolTip(QString::fromStdString(WebSiteAddress));

  Image1->setToolTip("Click to view current picture in actual size");

  OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
  OpenDialog1->setFileMode(QFileDialog::ExistingFile);
  OpenDialog1->setNameFilters(QtFilterList(OpenFilter));
  QSettings settings(SettingsOrganization, SettingsApplication);
  const QString folder = settings.value(OpenFolderKey).toString();
  if (!folder.isEmpty() && QFileInfo(folder).isDir()) OpenDialog1->setDirectory(folder);

  SavePictureDialog1->setAcceptMode(QFileDialog::AcceptSave);
  SavePictureDialog1->setFileMode(QFileDialog::AnyFile);
  SavePictureDialog1->setNameFilters(QtFilterList(SaveFilter));
  SavePictureDialog1->setDefaultSuffix("bmp");

  FBitmap = kiv::TBitmap();
  Image1->NewSurface();
  ResetView();
}

void TfrmDecoder::FormResize() {
  UpdateTrackBar();
  Image1->NewSurface();
  ClearSurface();
  if (FBitmap.Width() > 0)
    DrawFitted(Image1->Surface(), FBitmap);
  else
    ResetView();
  Image1->update();
}

void TfrmDecoder::FormDestroy() {
  // Lines logged while the components go must not reach a pane that is going too.
  FKivLogger->SetOnLog(nullptr);
  FBitmap = kiv::TBitmap();
}

QStringList TfrmDecoder::LogLines() const { return mmoLog->toPlainText().split('\n'); }

void TfrmDecoder::AppendLine(const std::string& ALine) {
  mmoLog->appendPlainText(QString::fromStdString(ALine));
}

void TfrmDecoder::AppendFailure(const char* APrefix) {
  AppendLine(APrefix + FKivDecoder->LastErrMsg());
}

void TfrmDecoder::ClearSurface() {
  Image1->Surface().fill(SurfaceColor);
  Image1->update();
}

// ---- window routines

void TfrmDecoder::ResetView() {
  FDuration = 0;
  FFrames = 0;
  FCurrentPTS = 0;
  FBitmap.SetSize(0, 0);
  ClearSurface();
  TrackBar1->setEnabled(false);
  TrackBar1->setValue(0);
  UpdateTrackBar();
  lblPTS->setText(QString::fromStdString(FormatPTS(0)));
  lblPTS->adjustSize();
  FEstimatedFrames = 0;
  FExactFrames = false;
  FPictureSAR = {0, 1};
  FHasStatus = false;
  FEndOfStream = false;
  FNotice.clear();
  FIndexTimer->stop();
  UpdateFrameStatus();
  UpdateState();
}

void TfrmDecoder::UpdateTrackBar() {
  const bool enabled = TrackBar1->isEnabled();
  TrackBar1->setEnabled(false);
  const TTrackBarSetup setup = UpdatedTrackBar(TrackBar1->value(), TrackBar1->maximum(), FFrames);
  TrackBar1->setMaximum(setup.Max);
  TrackBar1->setTickInterval(setup.Frequency);
  TrackBar1->setPageStep(setup.PageSize);
  TrackBar1->setValue(setup.Position);
  FLastPosition = setup.Position;
  TrackBar1->setEnabled(enabled);
}

void TfrmDecoder::ShowFrame() {
  PollFrameIndex();
  const kiv::TFrameInfo& frame = FKivDecoder->FrameInfo();
  const int64_t pts = frame.PTS;
  FCurrentPTS = pts == AV_NOPTS_VALUE ? 0 : pts;
  lblPTS->setText(QString::fromStdString(FormatPTS(FCurrentPTS)));
  lblPTS->adjustSize();
  MoveSliderTo(FCurrentPTS);

  FStatus.Number = FKivDecoder->FrameNumber();
  FStatus.PictureType = frame.PictureType;
  FStatus.IsKeyFrame = frame.IsKeyFrame;
  FStatus.PTS = frame.PTS;
  FStatus.TimeBase = {0, 1};
  FPictureSAR = {0, 1};
  const AVFormatContext* context = FKivDecoder->FileHandle();
  if (context && frame.StreamIndex >= 0 && unsigned(frame.StreamIndex) < context->nb_streams) {
    const AVStream* stream = context->streams[frame.StreamIndex];
    FStatus.TimeBase = stream->time_base;
    FPictureSAR = FKivDecoder->GetVideoStreamInfos(frame.StreamIndex).SAR;
  }
  FHasStatus = true;
  ++FPicturesShown;
  FEndOfStream = false;
  FNotice.clear();
  UpdateFrameStatus();
  UpdateState();

  if (FKivDecoder->CopyToBitmap(FBitmap)) {
    DrawFitted(Image1->Surface(), FBitmap);
    Image1->update();
  } else {
    AppendFailure("***CopyToBitmap failed: ");
  }
}

void TfrmDecoder::MoveSliderTo(int64_t APTS) {
  if (FChanging || FDuration <= 0) return;
  FChanging = true;
  TFinally done([this] { FChanging = false; });
  TrackBar1->setValue(SliderPositionOf(APTS, FDuration, TrackBar1->maximum()));
  // The slider now stands at the picture on show: the next one-step move steps from here.
  FLastPosition = TrackBar1->value();
}

void TfrmDecoder::SeekTo(int64_t APTS) {
  // Backward first: a demuxer searching forward lands on the key frame after the target (up
  // to a whole group of pictures late), and decoding forward cannot come back from there.
  static const kiv::TSeekFlags Attempts[] = {{kiv::sfBackward}, {}, {kiv::sfAny}};
  bool sought = false;
  for (kiv::TSeekFlags flags : Attempts)
    if ((sought = FKivDecoder->Seek(APTS, flags))) break;
  if (!sought) {
    AppendFailure("***SeekFrame failed: ");
    return;
  }
  bool decoded = false;
  for (;;) {
    if (!FKivDecoder->Decode(-1)) {
      DecodeFailed();
      // A target behind the last picture ends at the end of the stream: show the last
      // picture reached rather than leave the one from before the seek on show.
      if (!decoded) return;
      break;
    }
    decoded = true;
    if (APTS <= 0 || FKivDecoder->FrameInfo().PTS >= APTS) break;
  }
  ShowFrame();
}

void TfrmDecoder::ShowDecoded(bool ADecoded) {
  if (ADecoded)
    ShowFrame();
  else
    DecodeFailed();
}

void TfrmDecoder::DecodeFailed() {
  AppendFailure("***Decode failed: ");
  // Running into the end of the stream is where the pictures end, not a fault.
  FEndOfStream = FKivDecoder->Eof();
  UpdateState();
}

void TfrmDecoder::DecodeNext() { ShowDecoded(FKivDecoder->Decode(-1)); }

void TfrmDecoder::DecodePrevious() { ShowDecoded(FKivDecoder->DecodePreviousFrame(-1)); }

void TfrmDecoder::DrawFitted(QImage& ASurface, const kiv::TBitmap& ABitmap) {
  if (int64_t(ABitmap.Width()) * ABitmap.Height() == 0) return;
  // The picture takes its display shape (non-square pixels widened or narrowed); the surface
  // is measured in the window's units while it holds the screen's pixels.
  const QSize surface = ASurface.deviceIndependentSize().toSize();
  const kiv::TRect target = FitRect(DisplayBounds(ABitmap.Width(), ABitmap.Height(), FPictureSAR),
                                    {0, 0, surface.width(), surface.height()});
  if (target.Right <= target.Left || target.Bottom <= target.Top) return;
  QPainter painter(&ASurface);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(
      QRect(target.Left, target.Top, target.Right - target.Left, target.Bottom - target.Top),
      BitmapToImage(ABitmap));
}

// ---- opening

bool TfrmDecoder::LoadLibraries() {
  if (FKivDecoder->AVLibLoaded()) return true;
  // Without a LibAV folder beside the program the loader takes the system's libraries.
  if (FKivDecoder->LoadAVLib(kiv::ExeFilePath() + "LibAV")) return true;
  AppendLine(FKivDecoder->LastErrMsg());
  return false;
}

bool TfrmDecoder::OpenMediaFile(const QString& AFileName) {
  if (!LoadLibraries()) return false;
  FOpenedFileName = AFileName;
  ResetView();
  setWindowTitle(QString::fromStdString(Caption()));
  // Opening reads the whole stream description; a slow source may take a while.
  bool loaded = false;
  RunBusy([&] { loaded = FKivDecoder->LoadFile(AFileName.toStdString(), ""); });
  if (!loaded) {
    AppendLine("");
    AppendFailure("***File load error: ");
    AppendLine("");
    return false;
  }
  setWindowTitle(QString::fromStdString(WindowCaption(Caption(), AFileName.toStdString())));
  AppendLine("***KivDecoder.FileInfoText");
  std::string report = TrimText(FKivDecoder->FileInfoText());
  while (!report.empty()) {
    std::string line = kiv::FetchToken(report, "\n", true);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    AppendLine(line);
  }
  AppendLine("");
  AppendLine(kiv::Format("File Size: %lld", static_cast<long long>(FKivDecoder->FileSize())));

  const kiv::TFileStreamInfo info = FKivDecoder->FileStreamInfo();
  const bool hasDuration = info.Duration != -1;
  if (hasDuration)
    AppendLine("File Duration: " + FormatPTS(info.Duration));
  else
    AppendLine("File Duration is not preseted");
  WriteStreamSummary();

  TrackBar1->setEnabled(hasDuration && FKivDecoder->FormatName() != "image2" &&
                        FKivDecoder->VideoStreamCount() > 0);
  if (hasDuration) FDuration = info.Duration;
  if (FKivDecoder->VideoStreamCount() > 0) {
    const kiv::TVideoStreamInfo video = FKivDecoder->FirstVideoStreamInfo();
    if (video.FrameRate.den > 0) {
      if (video.DurationScaled > 0)
        FFrames = EstimateFrameCount(video.DurationScaled, video.FrameRate);
      else if (hasDuration)
        FFrames = EstimateFrameCount(info.Duration, video.FrameRate);
    }
    FEstimatedFrames = FFrames;
    if (FKivDecoder->FrameIndex()) FIndexTimer->start();
    DecodeNext();
  }
  UpdateTrackBar();
  PollFrameIndex();
  return true;
}

namespace {

// "  Video Length: ..." or "  Audio Length ..." of a stream of AKind.
std::string LengthLine(const char* AKind, int64_t ADuration, int64_t ADurationScaled) {
  if (ADuration == AV_NOPTS_VALUE) return kiv::Format("  %s Length is not preseted", AKind);
  return kiv::Format("  %s Length: %s", AKind, FormatPTS(ADurationScaled).c_str());
}

std::string BitRateLine(const char* AKind, int32_t ABitRate) {
  if (ABitRate <= 0) return kiv::Format("  %s Bit Rate is not preseted", AKind);
  return kiv::Format("  %s Bit Rate: %d kb", AKind, ABitRate / 1000);
}

}  // namespace

void TfrmDecoder::WriteStreamSummary() {
  for (int32_t index = 0; index < FKivDecoder->StreamCount(); ++index) {
    if (FKivDecoder->IsVideoStream(index)) {
      AppendLine(kiv::Format("Stream #%d: Video", index));
      const kiv::TVideoStreamInfo video = FKivDecoder->GetVideoStreamInfos(index);
      AppendLine(LengthLine("Video", video.Duration, video.DurationScaled));
      // Two decimals, the report's way with rates; a rate without a denominator has none.
      if (video.FrameRate.den != 0)
        AppendLine(kiv::Format("  Video Frame Rate: %.2f",
                               double(video.FrameRate.num) / video.FrameRate.den));
      else
        AppendLine("  Video Frame Rate is not preseted");
      AppendLine(BitRateLine("Video", video.BitRate));
      AppendLine(kiv::Format("  Frame size (width X height): %dx%d", video.Width, video.Height));
    } else if (FKivDecoder->IsAudioStream(index)) {
      AppendLine(kiv::Format("Stream #%d: Audio", index));
      const kiv::TAudioStreamInfo audio = FKivDecoder->GetAudioStreamInfos(index);
      AppendLine(LengthLine("Audio", audio.Duration, audio.DurationScaled));
      AppendLine(kiv::Format("  Audio Sample Rate: %d hz", audio.SampleRate));
      AppendLine(BitRateLine("Audio", audio.BitRate));
    }
  }
}

// ---- saving and viewing

bool TfrmDecoder::SavePicture(const QString& AFileName) {
  if (FBitmap.Width() <= 0) return false;
  std::string error;
  const std::string name = AFileName.toStdString();
  const bool saved = QFileInfo(AFileName).suffix().compare("bmp", Qt::CaseInsensitive) == 0
                         ? SaveBitmapAsBMP(FBitmap, name, error)
                         : SaveImageAsJPEG(BitmapToImage(FBitmap), name, JPEGQuality, error);
  // A failed save must not pass for a saved picture.
  if (!saved) AppendLine("***Save failed: " + error);
  return saved;
}

std::unique_ptr<QDialog> TfrmDecoder::CreateActualSizeView() {
  if (FBitmap.Width() <= 0 || FBitmap.Height() <= 0) return nullptr;
  auto view = std::make_unique<QDialog>(this, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint |
                                                  Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                                  Qt::WindowCloseButtonHint);
  QDialog* dialog = view.get();
  auto* closer = new QPushButton(dialog);
  closer->setGeometry(0, 0, 0, 0);
  closer->setDefault(true);
  connect(closer, &QPushButton::clicked, dialog, &QDialog::accept);
  auto* picture = new TZoomView(dialog);
  picture->SetImage(BitmapToImage(FBitmap));
  connect(picture, &TZoomView::Clicked, dialog, &QDialog::accept);
  const std::string caption =
      kiv::Format("%dx%d @ %s", FBitmap.Width(), FBitmap.Height(), FormatPTS(FCurrentPTS).c_str());
  dialog->setWindowTitle(QString::fromStdString(caption));
  // The caption also tells the zoom (when it is not 100 %) and the pixel under the pointer.
  auto retitle = [dialog, picture, caption] {
    std::string title = caption;
    if (std::abs(picture->Zoom() - 1.0) > 1e-9) title += "  " + ZoomText(picture->Zoom());
    if (const QPoint pixel = picture->Pixel(); pixel.x() >= 0)
      title += "  " + PixelText(pixel, picture->Image().pixel(pixel));
    dialog->setWindowTitle(QString::fromStdString(title));
  };
  connect(picture, &TZoomView::ZoomChanged, dialog, retitle);
  connect(picture, &TZoomView::PixelChanged, dialog, retitle);
  // At its actual size as far as the screen holds it; the rest is scrolled to.
  QSize client(FBitmap.Width(), FBitmap.Height());
  QScreen* screen = this->screen();
  if (screen)
    client = BoundedViewSize(client, screen->availableGeometry().size() - ViewFrameAllowance);
  picture->setGeometry(0, 0, client.width(), client.height());
  dialog->setFixedSize(client);
  if (screen) dialog->move(screen->availableGeometry().center() - dialog->rect().center());
  picture->setFocus();
  return view;
}

// ---- handlers

void TfrmDecoder::btnOpenClick() {
  if (!LoadLibraries()) return;
  if (OpenDialog1->exec() != QDialog::Accepted || OpenDialog1->selectedFiles().isEmpty()) return;
  QSettings(SettingsOrganization, SettingsApplication)
      .setValue(OpenFolderKey, OpenDialog1->directory().absolutePath());
  OpenMediaFile(OpenDialog1->selectedFiles().first());
}

void TfrmDecoder::PrepareSaveDialog() {
  const QFileInfo opened(FOpenedFileName);
  if (!FOpenedFileName.isEmpty() && opened.absoluteDir().exists())
    SavePictureDialog1->setDirectory(opened.absolutePath());
  SavePictureDialog1->selectFile(opened.completeBaseName());
}

void TfrmDecoder::btnSaveClick() {
  PrepareSaveDialog();
  if (FBitmap.Width() <= 0) return;
  if (SavePictureDialog1->exec() != QDialog::Accepted ||
      SavePictureDialog1->selectedFiles().isEmpty())
    return;
  SavePicture(SavePictureDialog1->selectedFiles().first());
}

void TfrmDecoder::btnNextFrameClick() { DecodeNext(); }

void TfrmDecoder::btnPreviousFrameClick() {
  // A step back decodes from the key frame before the picture.
  RunBusy([this] { DecodePrevious(); });
}

void TfrmDecoder::btnNextKFClick() {
  RunBusy([this] { ShowDecoded(FKivDecoder->DecodeNextKeyFrame(-1)); });
}

void TfrmDecoder::btnPreviousKFClick() {
  RunBusy([this] { ShowDecoded(FKivDecoder->DecodePreviousKeyFrame(-1)); });
}

void TfrmDecoder::btnWebSiteClick() {
  // The desktop's handler opens the address; its result is of no consequence here.
  QDesktopServices::openUrl(
      QUrl(QString::fromStdString(WebSiteUrl(WebSiteAddress, kiv::ExeFileName()))));
}

void TfrmDecoder::btnExitClick() { close(); }

void TfrmDecoder::cboLogLevelChange(int AIndex) {
  if (AIndex >= 0 && AIndex < kiv::LogLevelCount)
    FKivLogger->SetLogLevel(static_cast<kiv::TLogLevel>(AIndex));
}

void TfrmDecoder::TrackBar1Change(int APosition) {
  if (FChanging || !TrackBar1->isEnabled() || FKivDecoder->VideoStreamCount() <= 0 ||
      APosition == FLastPosition)
    return;
  FChanging = true;
  TFinally done([this] {
    FLastPosition = TrackBar1->value();
    FChanging = false;
  });
  const int64_t target = SliderTargetTime(APosition, TrackBar1->maximum(), FDuration);
  if (APosition == FLastPosition + 1)
    DecodeNext();
  else if (APosition == FLastPosition - 1)
    RunBusy([this] { DecodePrevious(); });
  else
    RunBusy([this, target] { SeekTo(target); });
}

void TfrmDecoder::Image1Click() {
  if (std::unique_ptr<QDialog> view = CreateActualSizeView()) view->exec();
}

void TfrmDecoder::KivLoggerLog(kiv::TComponent* /*Sender*/, int32_t AThreadID,
                               kiv::TLogLevel ALogLevel, const std::string& ALogMsg) {
  AppendLine(kiv::Format("#%d.%d: %s", AThreadID, int(ALogLevel), ALogMsg.c_str()));
}

// ---- toolkit events

void TfrmDecoder::resizeEvent(QResizeEvent* AEvent) {
  QWidget::resizeEvent(AEvent);
  ApplyAnchors();
  if (FCreated) FormResize();
}

namespace {

QString DroppedFile(const QMimeData* AData) {
  if (!AData || !AData->hasUrls() || AData->urls().isEmpty()) return {};
  const QUrl url = AData->urls().first();
  return url.isLocalFile() ? url.toLocalFile() : QString();
}

}  // namespace

void TfrmDecoder::dragEnterEvent(QDragEnterEvent* AEvent) {
  if (!DroppedFile(AEvent->mimeData()).isEmpty()) AEvent->acceptProposedAction();
}

void TfrmDecoder::dropEvent(QDropEvent* AEvent) {
  const QString file = DroppedFile(AEvent->mimeData());
  if (file.isEmpty()) return;
  AEvent->acceptProposedAction();
  OpenMediaFile(file);
}

// ---- status line

void TfrmDecoder::UpdateFrameStatus() {
  lblFrameStatus->setText(FHasStatus ? QString::fromStdString(FrameStatusText(FStatus))
                                     : QString());
}

void TfrmDecoder::UpdateState() {
  QString state;
  if (FBusy) {
    state = WorkingText;
  } else if (!FNotice.isEmpty()) {
    state = FNotice;
  } else if (FEndOfStream) {
    state = EndOfStreamText;
  } else if (const kiv::TKivFrameIndex* index = FKivDecoder->FrameIndex();
             index && FIndexTimer->isActive() && !index->Complete()) {
    state = QString("Indexing: %1 packets read").arg(index->PacketsRead());
  }
  lblState->setText(state);
}

void TfrmDecoder::PollFrameIndex() {
  const kiv::TKivFrameIndex* index = FKivDecoder->FrameIndex();
  if (!index || index->Complete()) FIndexTimer->stop();
  const int64_t count = FKivDecoder->FrameCount();
  if (count >= 0 && !FExactFrames && FKivDecoder->VideoStreamCount() > 0) {
    // From now on the slider counts the pictures themselves rather than an estimate.
    FExactFrames = true;
    FStatus.Count = count;
    FFrames = int(std::min<int64_t>(count, INT_MAX));
    UpdateTrackBar();
    if (FHasStatus) MoveSliderTo(FCurrentPTS);
    UpdateFrameStatus();
  }
  if (!FExactFrames) FStatus.Count = -1;
  FStatus.Estimate = FEstimatedFrames;
  UpdateState();
}

void TfrmDecoder::RunBusy(const std::function<void()>& AWork) {
  if (FBusy) return AWork();
  FBusy = true;
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  UpdateState();
  // Painted now: the work below keeps the event loop from doing it.
  lblState->repaint();
  TFinally done([this] {
    QGuiApplication::restoreOverrideCursor();
    FBusy = false;
    UpdateState();
  });
  AWork();
}

// ---- going to pictures

void TfrmDecoder::GoToFrame(int64_t ANumber) {
  RunBusy([this, ANumber] {
    // Without a frame index the nearest a number can be reached is by time.
    if (!FKivDecoder->FrameIndex() && ANumber == 0)
      SeekTo(0);
    else
      ShowDecoded(FKivDecoder->DecodeFrame(ANumber));
  });
}

void TfrmDecoder::GoToLastFrame() {
  const int64_t count = FKivDecoder->FrameCount();
  if (count > 0)
    GoToFrame(count - 1);
  else if (FDuration > 0)  // the count is not known yet: the last picture by time
    RunBusy([this] { SeekTo(FDuration); });
}

bool TfrmDecoder::GoTo(const QString& AText) {
  const TGoToTarget target = ParseGoTo(AText.toStdString());
  if (target.Kind == TGoToTarget::gkInvalid) {
    FNotice = QString("Cannot go to \"%1\": a time is hh:mm:ss.mmm, a picture a number")
                  .arg(AText.trimmed());
    UpdateState();
    return false;
  }
  FNotice.clear();
  const uint64_t shown = FPicturesShown;
  if (target.Kind == TGoToTarget::gkFrame)
    GoToFrame(target.Value);
  else
    RunBusy([this, &target] { SeekTo(target.Value); });
  return FPicturesShown != shown;
}

void TfrmDecoder::ShowGoToBox() {
  bool accepted = false;
  const QString text = QInputDialog::getText(
      this, "Go To", "Time (hh:mm:ss.mmm) or picture number:", QLineEdit::Normal, QString(),
      &accepted);
  if (accepted && !text.trimmed().isEmpty()) GoTo(text);
}

void TfrmDecoder::CopyPicture() {
  if (FBitmap.Width() <= 0 || FBitmap.Height() <= 0) return;
  QGuiApplication::clipboard()->setImage(BitmapToImage(FBitmap));
  FNotice = "Picture copied";
  UpdateState();
}

void TfrmDecoder::ClearLog() { mmoLog->clear(); }

// ---- keys

void TfrmDecoder::RunCommand(TFrameCommand ACommand) {
  switch (ACommand) {
    case TFrameCommand::None:
      break;
    case TFrameCommand::NextFrame:
      DecodeNext();
      break;
    case TFrameCommand::PreviousFrame:
      btnPreviousFrameClick();
      break;
    case TFrameCommand::NextKeyFrame:
      btnNextKFClick();
      break;
    case TFrameCommand::PreviousKeyFrame:
      btnPreviousKFClick();
      break;
    case TFrameCommand::FirstFrame:
      GoToFrame(0);
      break;
    case TFrameCommand::LastFrame:
      GoToLastFrame();
      break;
    case TFrameCommand::GoTo:
      ShowGoToBox();
      break;
    case TFrameCommand::Open:
      btnOpenClick();
      break;
    case TFrameCommand::Save:
      btnSaveClick();
      break;
    case TFrameCommand::CopyPicture:
      CopyPicture();
      break;
  }
}

TKeyFocus TfrmDecoder::FocusKindOf(QWidget* AWidget) const {
  if (AWidget == mmoLog || mmoLog->isAncestorOf(AWidget))
    return mmoLog->textCursor().hasSelection() ? TKeyFocus::LogPaneSelection : TKeyFocus::LogPane;
  const auto* combo = qobject_cast<QComboBox*>(AWidget);
  const auto* text = qobject_cast<QTextEdit*>(AWidget);
  const auto* plain = qobject_cast<QPlainTextEdit*>(AWidget);
  if (qobject_cast<QLineEdit*>(AWidget) || qobject_cast<QAbstractSpinBox*>(AWidget) ||
      (combo && combo->isEditable()) || (text && !text->isReadOnly()) ||
      (plain && !plain->isReadOnly()))
    return TKeyFocus::TextField;
  return TKeyFocus::Other;
}

bool TfrmDecoder::eventFilter(QObject* AObject, QEvent* AEvent) {
  if (AEvent->type() != QEvent::KeyPress) return QWidget::eventFilter(AObject, AEvent);
  auto* widget = qobject_cast<QWidget*>(AObject);
  // Only this window's own widgets; the views and boxes it opens keep their keys.
  if (!widget || widget->window() != this) return false;
  auto* key = static_cast<QKeyEvent*>(AEvent);
  const TFrameCommand command = CommandForKey(key->key(), key->modifiers(), FocusKindOf(widget));
  if (command == TFrameCommand::None) return false;
  // A held key: the repeats sent while a step still ran are dropped, not queued up.
  if (FRepeatGate.Admit(key->isAutoRepeat(), key->timestamp())) {
    QElapsedTimer running;
    running.start();
    RunCommand(command);
    FRepeatGate.StepDone(key->timestamp(), running.elapsed());
  }
  return true;
}

}  // namespace framebrowser
