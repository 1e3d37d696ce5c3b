#pragma once

#include <QLabel>

namespace ostrel {

// The close picture of a popup: a click closes `window`.
class ClosePicture : public QLabel {
    Q_OBJECT
public:
    explicit ClosePicture(QWidget* window);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A close picture named "Picture1" at `place` that closes `window`.
ClosePicture* make_close_picture(QWidget* window, const QRect& place);

}  // namespace ostrel
