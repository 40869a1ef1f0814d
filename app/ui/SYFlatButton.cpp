#include "SYFlatButton.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

#include <cmath>

namespace lanyard {

namespace {

// A colour that is not set draws as nothing.
QColor drawable(const QColor& color) {
    return color.isValid() ? color : QColor(Qt::transparent);
}

QRect frameAt(double x, double y, double width, double height) {
    return QRect(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)),
                 static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(height)));
}

struct Origins {
    double imageX = 0, imageY = 0, titleX = 0, titleY = 0;
};

// Image and title origins for an image beside, below or above the title.
Origins originsBesideOrAcross(int position, bool hugs, double W, double H, double w, double h, double tw,
                              double th, double s) {
    switch (position) {
    case SYFlatButton::ImageLeft:
    case SYFlatButton::ImageLeading:
        if (hugs) {
            return {(W - w - tw) / 2 - s, (H - h) / 2, (W + w - tw) / 2 + s, (H - th) / 2};
        }
        return {s, (H - h) / 2, W - tw - s, (H - th) / 2};
    case SYFlatButton::ImageRight:
    case SYFlatButton::ImageTrailing:
        if (hugs) {
            return {(W - w + tw) / 2 + s, (H - h) / 2, (W - w - tw) / 2 - s, (H - th) / 2};
        }
        return {W - w - s, (H - h) / 2, s, (H - th) / 2};
    case SYFlatButton::ImageBelow:
        if (hugs) {
            return {(W - w) / 2, (H - h + th) / 2 + s, (W - tw) / 2, (H - h - th) / 2 - s};
        }
        return {(W - w) / 2, H - h - s, (W - tw) / 2, s};
    case SYFlatButton::ImageAbove:
        if (hugs) {
            return {(W - w) / 2, (H - h - th) / 2 - s, (W - tw) / 2, (H + h - th) / 2 + s};
        }
        return {(W - w) / 2, s, (W - tw) / 2, H - th - s};
    default:
        return {};
    }
}

} // namespace

SYFlatButton::Layout SYFlatButton::layoutFor(QSizeF bounds, QSizeF image, QSizeF title, int imagePosition,
                                             bool imageHugsTitle, double spacing) {
    const double W = bounds.width(), H = bounds.height();
    const double w = image.width(), h = image.height();
    const double tw = title.width(), th = title.height();
    const QRect centredImage = frameAt((W - w) / 2, (H - h) / 2, w, h);
    const QRect centredTitle = frameAt((W - tw) / 2, (H - th) / 2, tw, th);
    switch (imagePosition) {
    case NoImage:
        return {std::nullopt, centredTitle};
    case ImageOnly:
        return {centredImage, std::nullopt};
    case ImageOverlaps:
        return {centredImage, centredTitle};
    default: {
        const Origins o = originsBesideOrAcross(imagePosition, imageHugsTitle, W, H, w, h, tw, th, spacing);
        return {frameAt(o.imageX, o.imageY, w, h), frameAt(o.titleX, o.titleY, tw, th)};
    }
    }
}

SYFlatButton::SYFlatButton(QWidget* parent) : QAbstractButton(parent) {
    setup();
    setupImageLayer();
    setupTitleLayer();
}

SYFlatButton::~SYFlatButton() {
    removeAllAnimations();
}

void SYFlatButton::setup() {
    setAttribute(Qt::WA_Hover, false);
    setFocusPolicy(Qt::TabFocus);
    // The button's own layer starts red until its colours are set.
    slot(ColorPart::Background).model = QColor(Qt::red);
    slot(ColorPart::Background).presented = QColor(Qt::red);
    _alphaValue = isEnabled() ? 1.0 : 0.5;
}

void SYFlatButton::setupImageLayer() {
    const Layout layout = currentLayout();
    _imageFrame = (_image.isNull() || _imagePosition == NoImage) ? std::nullopt : layout.image;
    update();
}

void SYFlatButton::setupTitleLayer() {
    const Layout layout = currentLayout();
    _titleFrame = (text().isEmpty() || _imagePosition == ImageOnly) ? std::nullopt : layout.title;
    updateGeometry();
    update();
}

SYFlatButton::Layout SYFlatButton::currentLayout() const {
    const QFontMetricsF metrics(font());
    const QSizeF titleSize = text().isEmpty() ? QSizeF() : metrics.size(Qt::TextSingleLine, text());
    const QSizeF imageSize = _image.isNull() ? QSizeF() : _image.deviceIndependentSize();
    return layoutFor(QSizeF(size()), imageSize, titleSize, _image.isNull() ? NoImage : _imagePosition,
                     _imageHugsTitle, _spacing);
}

void SYFlatButton::animateColorWithState(int state) {
    removeAllAnimations();
    const bool on = state == 1;
    const double duration = on ? _onAnimateDuration : _offAnimateDuration;
    animateLayer(ColorPart::Border, on ? _borderHighlightColor : _borderNormalColor, duration);
    animateLayer(ColorPart::Background, on ? _backgroundHighlightColor : _backgroundNormalColor, duration);
    animateLayer(ColorPart::Image, on ? _imageHighlightColor : _imageNormalColor, duration);
    animateLayer(ColorPart::Title, on ? _titleHighlightColor : _titleNormalColor, duration);
}

void SYFlatButton::animateLayer(ColorPart part, const QColor& color, double duration) {
    AnimatedColor& animated = slot(part);
    if (animated.model == color) {
        return;
    }
    animated.model = color;
    const int milliseconds = static_cast<int>(std::lround(duration * 1000.0));
    if (milliseconds <= 0) {
        animated.presented = color;
        update();
        return;
    }
    auto* animation = new QVariantAnimation(this);
    animation->setStartValue(drawable(animated.presented));
    animation->setEndValue(drawable(color));
    animation->setDuration(milliseconds);
    connect(animation, &QVariantAnimation::valueChanged, this, [this, part](const QVariant& value) {
        slot(part).presented = value.value<QColor>();
        update();
    });
    connect(animation, &QVariantAnimation::finished, this, [this, part, animation] {
        AnimatedColor& finished = slot(part);
        if (finished.animation == animation) {
            finished.presented = finished.model;
            finished.animation = nullptr;
        }
        animation->deleteLater();
        update();
    });
    animated.animation = animation;
    animation->start();
}

void SYFlatButton::removeAllAnimations() {
    for (AnimatedColor& animated : _colors) {
        if (animated.animation) {
            QVariantAnimation* animation = animated.animation;
            animated.animation = nullptr;
            animation->disconnect(this);
            animation->stop();
            animation->deleteLater();
        }
        animated.presented = animated.model;
    }
    update();
}

QColor SYFlatButton::presentedColor(ColorPart part) const {
    return slot(part).presented;
}

QColor SYFlatButton::targetColor(ColorPart part) const {
    return slot(part).model;
}

void SYFlatButton::setState(int state) {
    _state = state;
    animateColorWithState(_state);
}

void SYFlatButton::toggleState() {
    setState(_state == 1 ? 0 : 1);
}

void SYFlatButton::setMomentary(bool momentary) {
    _momentary = momentary;
    animateColorWithState(_state);
}

void SYFlatButton::setCornerRadius(double radius) {
    _cornerRadius = radius;
    update();
}

void SYFlatButton::setBorderWidth(double width) {
    _borderWidth = width;
    update();
}

void SYFlatButton::setSpacing(double spacing) {
    _spacing = spacing;
    setupImageLayer();
    setupTitleLayer();
}

void SYFlatButton::storeColor(QColor& field, const QColor& color) {
    field = color;
    animateColorWithState(_state);
}

void SYFlatButton::setBorderNormalColor(const QColor& color) {
    storeColor(_borderNormalColor, color);
}

void SYFlatButton::setBorderHighlightColor(const QColor& color) {
    storeColor(_borderHighlightColor, color);
}

void SYFlatButton::setBackgroundNormalColor(const QColor& color) {
    storeColor(_backgroundNormalColor, color);
}

void SYFlatButton::setBackgroundHighlightColor(const QColor& color) {
    storeColor(_backgroundHighlightColor, color);
}

void SYFlatButton::setImageNormalColor(const QColor& color) {
    storeColor(_imageNormalColor, color);
}

void SYFlatButton::setImageHighlightColor(const QColor& color) {
    storeColor(_imageHighlightColor, color);
}

void SYFlatButton::setTitleNormalColor(const QColor& color) {
    storeColor(_titleNormalColor, color);
}

void SYFlatButton::setTitleHighlightColor(const QColor& color) {
    storeColor(_titleHighlightColor, color);
}

void SYFlatButton::setTitle(const QString& title) {
    setText(title);
    setupTitleLayer();
}

void SYFlatButton::setImage(const QImage& image) {
    _image = image;
    setupImageLayer();
}

void SYFlatButton::setImagePosition(int position) {
    _imagePosition = position;
    setupImageLayer();
    setupTitleLayer();
}

void SYFlatButton::setImageHugsTitle(bool hugs) {
    _imageHugsTitle = hugs;
    setupImageLayer();
    setupTitleLayer();
}

void SYFlatButton::resizeEvent(QResizeEvent* event) {
    QAbstractButton::resizeEvent(event);
    setupImageLayer();
    setupTitleLayer();
}

void SYFlatButton::changeEvent(QEvent* event) {
    QAbstractButton::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        setupTitleLayer();
    }
}

bool SYFlatButton::hitButton(const QPoint& pos) const {
    return isEnabled() && rect().contains(pos);
}

void SYFlatButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !hitButton(event->position().toPoint())) {
        event->ignore();
        return;
    }
    _mouseDown = true;
    _mouseInside = true;
    toggleState();
}

void SYFlatButton::mouseMoveEvent(QMouseEvent* event) {
    const bool inside = hitButton(event->position().toPoint());
    if (inside == _mouseInside || !(event->buttons() & Qt::LeftButton)) {
        return;
    }
    _mouseInside = inside;
    if (inside) {
        mouseEntered();
    } else {
        mouseExited();
    }
}

void SYFlatButton::mouseEntered() {
    if (_mouseDown) {
        toggleState();
    }
}

void SYFlatButton::mouseExited() {
    if (_mouseDown) {
        _mouseDown = false;
        toggleState();
    }
}

void SYFlatButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !_mouseDown) {
        return;
    }
    _mouseDown = false;
    if (_momentary) {
        toggleState();
    }
    emit clicked(_state == 1);
}

void SYFlatButton::performClick() {
    if (!isEnabled()) {
        return;
    }
    toggleState();
    if (_momentary) {
        toggleState();
    }
    emit clicked(_state == 1);
}

void SYFlatButton::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if ((key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) && !event->isAutoRepeat() &&
        event->modifiers() == Qt::NoModifier) {
        performClick();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void SYFlatButton::keyReleaseEvent(QKeyEvent* event) {
    // The press already clicked; the base class would click again on the space bar's release.
    if (event->key() == Qt::Key_Space) {
        return;
    }
    QAbstractButton::keyReleaseEvent(event);
}

QSize SYFlatButton::sizeHint() const {
    const QFontMetrics metrics(font());
    const QSize titleSize = text().isEmpty() ? QSize() : metrics.size(Qt::TextSingleLine, text());
    const QSize imageSize = _image.isNull() ? QSize() : _image.deviceIndependentSize().toSize();
    const int pad = static_cast<int>(std::ceil(std::max(_spacing, 8.0)));
    int width = titleSize.width() + 2 * pad + 8;
    int height = std::max(titleSize.height(), imageSize.height()) + pad;
    if (!_image.isNull() && _imagePosition != NoImage) {
        if (_imagePosition == ImageBelow || _imagePosition == ImageAbove) {
            height = titleSize.height() + imageSize.height() + 2 * pad;
            width = std::max(titleSize.width(), imageSize.width()) + 2 * pad;
        } else if (_imagePosition != ImageOverlaps && _imagePosition != ImageOnly) {
            width += imageSize.width() + pad;
        }
    }
    return QSize(std::max(width, 32), std::max(height, 26));
}

QSize SYFlatButton::minimumSizeHint() const {
    return sizeHint();
}

void SYFlatButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(_alphaValue);
    const QRectF bounds = QRectF(rect());
    QPainterPath shape;
    shape.addRoundedRect(bounds, _cornerRadius, _cornerRadius);
    painter.setClipPath(shape);
    painter.fillPath(shape, drawable(presentedColor(ColorPart::Background)));
    if (_imageFrame) {
        QImage tinted(_image.size(), QImage::Format_ARGB32_Premultiplied);
        tinted.setDevicePixelRatio(_image.devicePixelRatio());
        tinted.fill(drawable(presentedColor(ColorPart::Image)));
        QPainter mask(&tinted);
        mask.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        mask.drawImage(QPointF(0, 0), _image);
        mask.end();
        painter.drawImage(QRectF(*_imageFrame), tinted);
    }
    if (_titleFrame) {
        painter.setPen(drawable(presentedColor(ColorPart::Title)));
        painter.setFont(font());
        painter.drawText(QRectF(*_titleFrame).adjusted(0, 0, 1, 0),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text());
    }
    if (_borderWidth > 0) {
        const double inset = _borderWidth / 2;
        QPainterPath border;
        border.addRoundedRect(bounds.adjusted(inset, inset, -inset, -inset),
                              std::max(0.0, _cornerRadius - inset), std::max(0.0, _cornerRadius - inset));
        painter.strokePath(border, QPen(drawable(presentedColor(ColorPart::Border)), _borderWidth));
    }
    if (hasFocus()) {
        QColor ring = palette().color(QPalette::Highlight);
        ring.setAlphaF(0.6f);
        painter.setClipping(false);
        QPainterPath focus;
        focus.addRoundedRect(bounds.adjusted(1, 1, -1, -1), _cornerRadius, _cornerRadius);
        painter.strokePath(focus, QPen(ring, 2));
    }
}

} // namespace lanyard
