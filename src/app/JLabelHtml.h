#pragma once

#include <QLabel>

namespace rszorvik {

// A label that opens the address of the link in its HTML text when it is clicked. Where browsing is
// supported it makes itself linkable at construction; texts set later keep working as links when they hold
// an anchor, and the cursor turns into a hand only over a label that holds one.
class JLabelHtml : public QLabel {
  public:
    explicit JLabelHtml(QWidget* parent = nullptr);

    // Turns the text into an anchor to itself unless it holds a link already, and reacts to clicks from now
    // on.
    void makeLinkable();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    bool linkable = false;
    bool pressed = false;
};

}  // namespace rszorvik
