// The about box that components show through ShowAbout: component name and version, the
// product, the copyright line and a link to the web site.
#pragma once

#include <QDialog>
#include <QLabel>
#include <memory>
#include <string>

class QPushButton;

namespace framebrowser {

class TfrmAbout;

// A label that reports the pointer entering and leaving it and clicks on it to its box.
class TLinkLabel : public QLabel {
 public:
  explicit TLinkLabel(TfrmAbout* AForm);

 protected:
  void enterEvent(QEnterEvent* AEvent) override;
  void leaveEvent(QEvent* AEvent) override;
  void mouseReleaseEvent(QMouseEvent* AEvent) override;

 private:
  TfrmAbout* FForm;
};

class TfrmAbout : public QDialog {
 public:
  explicit TfrmAbout(QWidget* AOwner = nullptr);

  QLabel* Image1;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  TLinkLabel* Label4;
  QPushButton* btnOK;

  void FormCreate(QObject* Sender);
  void Label4Click(QObject* Sender);
  void Label4MouseEnter(QObject* Sender);
  void Label4MouseLeave(QObject* Sender);

 protected:
  void keyPressEvent(QKeyEvent* AEvent) override;
};

// The box as ShowAboutBox shows it, filled in but not shown yet.
std::unique_ptr<TfrmAbout> CreateAboutBox(const std::string& AComponentName,
                                          const std::string& AVersion);

// Shows the box modally and returns when it is closed.
void ShowAboutBox(const std::string& AComponentName, const std::string& AVersion);

// Opens AAddress in a web browser: with ADefaultBrowser the program named by the BROWSER
// environment variable when it is set, otherwise the desktop's handler for the address.
bool OpenWebAddress(const std::string& AAddress, bool ADefaultBrowser);

}  // namespace framebrowser
