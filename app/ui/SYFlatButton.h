#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QImage>
#include <QRect>

#include <array>
#include <optional>

class QVariantAnimation;

namespace lanyard {

// A flat button drawn in layers: a rounded background with a border, the image as a silhouette in a
// tint colour, and the title. Each colour has a normal and a highlighted value; the button shows the
// highlighted set while its state is on (1) and animates between the sets.
//
// A momentary button is on while it is pressed and sends its action (clicked) on release; a toggle
// button changes its state with each click. Dragging out of a pressed button restores its state and
// cancels the action.
class SYFlatButton : public QAbstractButton {
    Q_OBJECT
public:
    // Where the image goes relative to the title.
    enum ImagePosition {
        NoImage = 0,
        ImageOnly = 1,
        ImageLeft = 2,
        ImageRight = 3,
        ImageBelow = 4,
        ImageAbove = 5,
        ImageOverlaps = 6,
        ImageLeading = 7,
        ImageTrailing = 8,
    };

    // The parts whose colour animates.
    enum class ColorPart { Border = 0, Background = 1, Image = 2, Title = 3 };

    // Frames of the image and the title inside a button of the given size; none where the part is
    // not shown.
    struct Layout {
        std::optional<QRect> image;
        std::optional<QRect> title;
    };
    static Layout layoutFor(QSizeF bounds, QSizeF image, QSizeF title, int imagePosition, bool imageHugsTitle,
                            double spacing);

    explicit SYFlatButton(QWidget* parent = nullptr);
    ~SYFlatButton() override;

    // 0 off, 1 on.
    int state() const { return _state; }
    void setState(int state);

    bool momentary() const { return _momentary; }
    void setMomentary(bool momentary);
    bool isMouseDown() const { return _mouseDown; }

    double onAnimateDuration() const { return _onAnimateDuration; }
    void setOnAnimateDuration(double seconds) { _onAnimateDuration = seconds; }
    double offAnimateDuration() const { return _offAnimateDuration; }
    void setOffAnimateDuration(double seconds) { _offAnimateDuration = seconds; }
    double cornerRadius() const { return _cornerRadius; }
    void setCornerRadius(double radius);
    double borderWidth() const { return _borderWidth; }
    void setBorderWidth(double width);
    double spacing() const { return _spacing; }
    void setSpacing(double spacing);

    QColor borderNormalColor() const { return _borderNormalColor; }
    void setBorderNormalColor(const QColor& color);
    QColor borderHighlightColor() const { return _borderHighlightColor; }
    void setBorderHighlightColor(const QColor& color);
    QColor backgroundNormalColor() const { return _backgroundNormalColor; }
    void setBackgroundNormalColor(const QColor& color);
    QColor backgroundHighlightColor() const { return _backgroundHighlightColor; }
    void setBackgroundHighlightColor(const QColor& color);
    QColor imageNormalColor() const { return _imageNormalColor; }
    void setImageNormalColor(const QColor& color);
    QColor imageHighlightColor() const { return _imageHighlightColor; }
    void setImageHighlightColor(const QColor& color);
    QColor titleNormalColor() const { return _titleNormalColor; }
    void setTitleNormalColor(const QColor& color);
    QColor titleHighlightColor() const { return _titleHighlightColor; }
    void setTitleHighlightColor(const QColor& color);

    QString title() const { return text(); }
    void setTitle(const QString& title);
    QImage image() const { return _image; }
    void setImage(const QImage& image);
    int imagePosition() const { return _imagePosition; }
    void setImagePosition(int position);
    bool imageHugsTitle() const { return _imageHugsTitle; }
    void setImageHugsTitle(bool hugs);

    // The colour a part shows now (mid-animation, the current step) and the one it is going to.
    QColor presentedColor(ColorPart part) const;
    QColor targetColor(ColorPart part) const;
    // The frames of the image and the title as drawn now.
    std::optional<QRect> imageFrame() const { return _imageFrame; }
    std::optional<QRect> titleFrame() const { return _titleFrame; }
    // 1.0, or 0.5 when the button was disabled when it was set up.
    double alphaValue() const { return _alphaValue; }

    // A click from the keyboard or from code: press and release inside the button.
    void performClick();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    struct AnimatedColor {
        QColor model;
        QColor presented;
        QVariantAnimation* animation = nullptr;
    };

    void setup();
    void setupImageLayer();
    void setupTitleLayer();
    void animateColorWithState(int state);
    void animateLayer(ColorPart part, const QColor& color, double duration);
    void removeAllAnimations();
    void toggleState();
    void storeColor(QColor& field, const QColor& color);
    void mouseEntered();
    void mouseExited();
    Layout currentLayout() const;
    AnimatedColor& slot(ColorPart part) { return _colors[static_cast<std::size_t>(part)]; }
    const AnimatedColor& slot(ColorPart part) const { return _colors[static_cast<std::size_t>(part)]; }

    bool _momentary = true;
    bool _mouseDown = false;
    bool _mouseInside = false;
    double _onAnimateDuration = 0.0;
    double _offAnimateDuration = 0.0;
    double _cornerRadius = 0.0;
    double _borderWidth = 0.0;
    double _spacing = 0.0;
    QColor _borderNormalColor, _borderHighlightColor;
    QColor _backgroundNormalColor, _backgroundHighlightColor;
    QColor _imageNormalColor, _imageHighlightColor;
    QColor _titleNormalColor, _titleHighlightColor;
    int _state = 0;
    QImage _image;
    int _imagePosition = NoImage;
    bool _imageHugsTitle = false;
    double _alphaValue = 1.0;
    std::array<AnimatedColor, 4> _colors;
    std::optional<QRect> _imageFrame;
    std::optional<QRect> _titleFrame;
};

} // namespace lanyard
