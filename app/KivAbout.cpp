#include "KivAbout.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <cstdlib>

#include "FrameLogic.h"
#include "MakerInfo.h"

namespace framebrowser {

TLinkLabel::TLinkLabel(TfrmAbout* AForm) : QLabel(AForm), FForm(AForm) {}

void TLinkLabel::enterEvent(QEnterEvent* AEvent) {
  QLabel::enterEvent(AEvent);
  FForm->Label4MouseEnter(this);
}

void TLinkLabel::leaveEvent(QEvent* AEvent) {
  QLabel::leaveEvent(AEvent);
  FForm->Label4MouseLeave(this);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* AEvent) {
  QLabel::mouseReleaseEvent(AEvent);
  if (AEvent->button() == Qt::LeftButton && rect().contains(AEvent->position().toPoint()))
    FForm->Label4Click(this);
}

namespace {

void SetTextColor(QLabel* ALabel, const QColor& AColor) {
  QPalette palette = ALabel->palette();
  palette.setColor(QPalette::WindowText, AColor);
  ALabel->setPalette(palette);
}

// The component logo: a small film frame on a transparent ground.
QPixmap Logo() {
  QPixmap logo(24, 24);
  logo.fill(Qt::transparent);
  QPainter painter(&logo);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(40, 70, 140));
  painter.drawRoundedRect(QRectF(1, 3, 22, 18), 3, 3);
  painter.setBrush(Qt::white);
  for (int x = 3; x < 22; x += 5) {
    painter.drawRect(QRectF(x, 5, 3, 2));
    painter.drawRect(QRectF(x, 17, 3, 2));
  }
  painter.setBrush(QColor(166, 202, 240));
  painter.drawRect(QRectF(4, 9, 16, 6));
  return logo;
}

constexpr int ClientHeight = 160;

}  // namespace

TfrmAbout::TfrmAbout(QWidget* AOwner)
    : QDialog(AOwner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
  QFont font("Tahoma");
  font.setPointSize(8);
  setFont(font);
  setWindowTitle("About");
  setFixedSize(291, ClientHeight);

  btnOK = new QPushButton("&Close", this);
  btnOK->setGeometry(198, 120, 75, 25);
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

  Image1 = new QLabel(this);
  Image1->setGeometry(14, 16, 24, 24);
  Image1->setPixmap(Logo());

  Label1 = new QLabel(this);
  Label1->move(56, 16);
  Label2 = new QLabel(this);
  Label2->move(56, 41);
  Label3 = new QLabel(this);
  Label3->move(56, 67);
  Label4 = new TLinkLabel(this);
  Label4->move(56, 93);
  Label4->setCursor(Qt::PointingHandCursor);

  FormCreate(this);
}

void TfrmAbout::FormCreate(QObject* /*Sender*/) { SetTextColor(Label4, QColor(0, 0, 255)); }

void TfrmAbout::Label4MouseEnter(QObject* /*Sender*/) { SetTextColor(Label4, QColor(255, 0, 0)); }

void TfrmAbout::Label4MouseLeave(QObject* /*Sender*/) { SetTextColor(Label4, QColor(0, 0, 255)); }

void TfrmAbout::Label4Click(QObject* /*Sender*/) {
  OpenWebAddress(AboutLinkUrl(MakerWebSiteAddress(), windowTitle().toStdString()), true);
}

void TfrmAbout::keyPressEvent(QKeyEvent* AEvent) {
  // Escape works the Close button: the box closes with the OK result.
  if (AEvent->key() == Qt::Key_Escape) {
    btnOK->click();
    return;
  }
  QDialog::keyPressEvent(AEvent);
}

std::unique_ptr<TfrmAbout> CreateAboutBox(const std::string& AComponentName,
                                          const std::string& AVersion) {
  auto box = std::make_unique<TfrmAbout>();
  box->setWindowTitle(QString::fromStdString("About " + AComponentName));
  box->Label1->setText(QString::fromStdString(
      AVersion.empty() ? AComponentName + " " : AComponentName + " - Version " + AVersion + " "));
  box->Label2->setText("Morlenta Standard ");
  box->Label3->setText(QString::fromStdString(MakerCopyright() + " "));
  box->Label4->setText(QString::fromStdString(MakerWebSiteAddress() + " "));
  int clientWidth = box->width();
  for (QLabel* label : {box->Label1, box->Label2, box->Label3}) {
    label->adjustSize();
    clientWidth = std::max(clientWidth, label->x() + label->width() + 10);
  }
  box->Label4->adjustSize();
  box->setFixedSize(clientWidth, ClientHeight);
  return box;
}

void ShowAboutBox(const std::string& AComponentName, const std::string& AVersion) {
  std::unique_ptr<TfrmAbout> box = CreateAboutBox(AComponentName, AVersion);
  if (QScreen* screen = box->screen())
    box->move(screen->availableGeometry().center() - box->rect().center());
  box->exec();
}

bool OpenWebAddress(const std::string& AAddress, bool ADefaultBrowser) {
  const QString address = QString::fromStdString(AAddress);
  QString command;
  if (ADefaultBrowser) command = qEnvironmentVariable("BROWSER").trimmed();
  if (command.isEmpty()) {
    QDesktopServices::openUrl(QUrl(address));
    return true;
  }
  if (command.startsWith('"'))
    command = command.mid(1).section('"', 0, 0);
  else
    command = command.section(':', 0, 0);  // BROWSER may list several programs
  QProcess::startDetached(command, {address});
  return true;
}

}  // namespace framebrowser
