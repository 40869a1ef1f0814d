#include "FlatButtonStyles.h"

#include "SYFlatButton.h"

namespace lanyard {

namespace {

struct ColorSet {
    QColor border, borderOn, background, backgroundOn, title, titleOn;
};

ColorSet colorsFor(FlatButtonStyle style) {
    switch (style) {
    case FlatButtonStyle::Primary:
        return {QColor(0x1f, 0x6f, 0xeb), QColor(0x17, 0x56, 0xb8), QColor(0x2b, 0x7b, 0xf2),
                QColor(0x1a, 0x5e, 0xc9), QColor(Qt::white),        QColor(0xe8, 0xf0, 0xfe)};
    case FlatButtonStyle::Quiet:
        return {QColor(0xd5, 0xd9, 0xe0), QColor(0xc2, 0x3b, 0x32), QColor(0xfa, 0xfb, 0xfc),
                QColor(0xfd, 0xe8, 0xe6), QColor(0xc2, 0x3b, 0x32), QColor(0x9c, 0x2a, 0x22)};
    case FlatButtonStyle::Neutral:
    default:
        return {QColor(0xc9, 0xcf, 0xd8), QColor(0x9a, 0xa4, 0xb2), QColor(0xfa, 0xfb, 0xfc),
                QColor(0xe4, 0xe8, 0xee), QColor(0x1f, 0x29, 0x33), QColor(0x10, 0x18, 0x20)};
    }
}

} // namespace

void applyFlatButtonStyle(SYFlatButton* button, FlatButtonStyle style, const QString& title) {
    const ColorSet colors = colorsFor(style);
    button->setMomentary(true);
    button->setCornerRadius(6);
    button->setBorderWidth(1);
    button->setSpacing(6);
    button->setBorderNormalColor(colors.border);
    button->setBorderHighlightColor(colors.borderOn);
    button->setBackgroundNormalColor(colors.background);
    button->setBackgroundHighlightColor(colors.backgroundOn);
    button->setImageNormalColor(colors.title);
    button->setImageHighlightColor(colors.titleOn);
    button->setTitleNormalColor(colors.title);
    button->setTitleHighlightColor(colors.titleOn);
    button->setTitle(title);
    button->setCursor(Qt::PointingHandCursor);
    // Set last, so that the first colours appear at once.
    button->setOnAnimateDuration(0.08);
    button->setOffAnimateDuration(0.2);
    button->setMinimumSize(button->sizeHint().expandedTo(QSize(88, 30)));
}

} // namespace lanyard
