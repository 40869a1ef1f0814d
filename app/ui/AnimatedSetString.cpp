#include "AnimatedSetString.h"

#include <QPlainTextEdit>
#include <QVariantAnimation>

namespace lanyard {

namespace {

QVariantAnimation* fade(QObject* parent, double endValue, QEasingCurve::Type easing) {
    auto* animation = new QVariantAnimation(parent);
    animation->setDuration(AnimatedSetString::kFadeMilliseconds);
    animation->setEndValue(endValue);
    animation->setEasingCurve(easing);
    return animation;
}

} // namespace

AnimatedSetString::AnimatedSetString(QPlainTextEdit* view)
    : QObject(view), _view(view), _textColor(view->palette().color(QPalette::Text)),
      _fadeOut(fade(this, 0.0, QEasingCurve::OutQuad)), _fadeIn(fade(this, 1.0, QEasingCurve::InQuad)) {
    setObjectName(QStringLiteral("animatedSetString"));
    for (QVariantAnimation* animation : {_fadeOut, _fadeIn}) {
        connect(animation, &QVariantAnimation::valueChanged, this,
                [this](const QVariant& value) { setOpacity(value.toDouble()); });
    }
    connect(_fadeOut, &QVariantAnimation::finished, this, &AnimatedSetString::fadeOutFinished);
    connect(_fadeIn, &QVariantAnimation::finished, this, [this] { setOpacity(1.0); });
}

AnimatedSetString* AnimatedSetString::of(const QPlainTextEdit* view) {
    return view->findChild<AnimatedSetString*>(QStringLiteral("animatedSetString"),
                                               Qt::FindDirectChildrenOnly);
}

void AnimatedSetString::setAnimatedStringValue(QPlainTextEdit* view, const QString& text) {
    if (!view) {
        return;
    }
    AnimatedSetString* animator = of(view);
    if (!animator) {
        animator = new AnimatedSetString(view);
    }
    animator->change(displayedText(text));
}

QString AnimatedSetString::displayedText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(u'\r', u'\n');
    return shown;
}

bool AnimatedSetString::isAnimating(const QPlainTextEdit* view) {
    const AnimatedSetString* animator = view ? of(view) : nullptr;
    return animator && (animator->_fadeOut->state() == QAbstractAnimation::Running ||
                        animator->_fadeIn->state() == QAbstractAnimation::Running);
}

double AnimatedSetString::opacity(const QPlainTextEdit* view) {
    const AnimatedSetString* animator = view ? of(view) : nullptr;
    return animator ? animator->_opacity : 1.0;
}

void AnimatedSetString::change(const QString& text) {
    if (_fadeOut->state() == QAbstractAnimation::Running) {
        _pendingText = text;
        return;
    }
    if (text == _view->toPlainText()) {
        return;
    }
    _pendingText = text;
    _fadeIn->stop();
    _fadeOut->setStartValue(_opacity);
    _fadeOut->start();
}

void AnimatedSetString::setOpacity(double opacity) {
    _opacity = opacity;
    QColor color = _textColor;
    color.setAlphaF(static_cast<float>(_textColor.alphaF() * opacity));
    QPalette palette = _view->palette();
    palette.setColor(QPalette::Text, color);
    _view->setPalette(palette);
}

void AnimatedSetString::fadeOutFinished() {
    setOpacity(0.0);
    _view->setPlainText(_pendingText);
    _fadeIn->setStartValue(_opacity);
    _fadeIn->start();
}

} // namespace lanyard
