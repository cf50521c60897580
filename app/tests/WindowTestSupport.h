// What the window tests share: waiting for the window's events, and the picture a second
// decoder shows for a picture number, to compare the window's picture with.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <functional>

#include "DecoderFrm.h"
#include "KivDecode.h"
#include "MyUtils.h"
#include "PictureFiles.h"
#include "TestSupport.h"

namespace framebrowser::test {

// Runs the event loop until ADone holds (or a minute has passed); whether it holds.
inline bool WaitUntil(const std::function<bool()>& ADone) {
  QElapsedTimer waited;
  waited.start();
  while (!ADone() && waited.elapsed() < 60000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  return ADone();
}

// Waits until the window counts the pictures exactly (its frame index is complete).
inline bool WaitForExactCount(TfrmDecoder& AWindow) {
  // The estimate may equal the count: the window has taken the count once its status line
  // no longer says "~".
  return WaitUntil([&] {
    const int64_t count = AWindow.KivDecoder().FrameCount();
    return count >= 0 && AWindow.Frames() == count &&
           !AWindow.lblFrameStatus->text().contains(" of ~");
  });
}

// Picture ANumber of a media file as a second decoder, going there by number, shows it.
inline QImage ReferencePicture(const std::string& AFile, int64_t ANumber) {
  kiv::TKivDecoder decoder;
  if (!decoder.LoadAVLib(kiv::ExeFilePath() + "LibAV") ||
      !decoder.LoadFile(kivtest::MediaFile(AFile)) || !decoder.DecodeFrame(ANumber))
    return {};
  kiv::TBitmap bitmap;
  if (!decoder.CopyToBitmap(bitmap)) return {};
  return BitmapToImage(bitmap).convertToFormat(QImage::Format_RGB32);
}

inline QImage Shown(const TfrmDecoder& AWindow) {
  return BitmapToImage(AWindow.Bitmap()).convertToFormat(QImage::Format_RGB32);
}

}  // namespace framebrowser::test
