// SPDX-License-Identifier: GPL-3.0-or-later
// A floor for the console benchmark at the sensor's real rate: what Qt and the
// X server spend on frames alone. A window of the console's size repaints a
// 10 x 10 pixel square once per display frame (the screen's refresh interval,
// as the console paces its frames), with no port, no text and no readings.
//
//   frame_floor
#include <QApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {
class TSquare : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).fillRect(rect(), (++FFrames & 1) ? Qt::black : Qt::white);
    }

  private:
    int FFrames = 0;
};
} // namespace

int main(int argc, char** argv) {
    QApplication App(argc, argv);
    QWidget Window;
    Window.resize(618, 745);
    auto* Square = new TSquare(&Window);
    Square->setAttribute(Qt::WA_OpaquePaintEvent);
    Square->setGeometry(200, 200, 10, 10);
    Window.show();
    const QScreen* S = Window.screen();
    const double Hz = S && S->refreshRate() > 0 ? S->refreshRate() : 60.0;
    QTimer Frames;
    Frames.setTimerType(Qt::PreciseTimer);
    QObject::connect(&Frames, &QTimer::timeout, Square, [Square] { Square->update(); });
    Frames.start(static_cast<int>(std::floor(1000.0 / std::clamp(Hz, 24.0, 240.0))));
    return App.exec();
}
