#pragma once

#include <vector>

#include <QWidget>

namespace quorvil {

// Panel1: a panel without border or caption whose controls anchored to its right edge keep their
// distance to it when it is resized; the others keep their place.
class AnchoredPanel : public QWidget {
public:
    using QWidget::QWidget;

    void AnchorRight(QWidget* child) { anchored_.push_back({child, 0}); }

    // Takes the current positions as the design: right gaps are measured from here on.
    void FixAnchors();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Anchor {
        QWidget* widget;
        int rightGap;
    };
    std::vector<Anchor> anchored_;
};

} // namespace quorvil
