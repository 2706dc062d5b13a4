#pragma once
// The picture at an integer zoom, each pixel a zoom x zoom square (nearest neighbour), over a
// checkerboard where it is transparent; rows left undrawn below a damaged file's fault are
// hatched. Only the part on screen is scaled, so a picture of any size paints as fast.

#include <QImage>
#include <QPixmap>
#include <QWidget>

namespace kav {

inline constexpr int kMinZoom = 1;
inline constexpr int kMaxZoom = 16;

class PictureCanvas : public QWidget {
  Q_OBJECT

 public:
  explicit PictureCanvas(QWidget* parent = nullptr);

  // `shownRows` of `picture` are drawn; the canvas takes the picture's size at the zoom.
  void SetPicture(QImage picture, int shownRows);
  void SetZoom(int zoom);
  int zoom() const { return zoom_; }
  const QImage& picture() const { return picture_; }

 Q_SIGNALS:
  void pixelHovered(QPoint pixel);  // the picture's pixel under the mouse
  void pixelLeft();                 // the mouse left the canvas
  // Ctrl + wheel, by `steps` (positive: in), at `position` on the canvas.
  void zoomWheeled(int steps, QPoint position);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void FitSize();

  QImage picture_;
  int shownRows_ = 0;
  int zoom_ = kMinZoom;
  QPixmap checker_;
};

}  // namespace kav
