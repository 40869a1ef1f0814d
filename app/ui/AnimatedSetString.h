#pragma once

#include <QColor>
#include <QObject>
#include <QString>

class QPlainTextEdit;
class QVariantAnimation;

namespace lanyard {

// The animated text change of a text view: the text fades out (0.4 s, ease-out), the view takes the
// new text, and the text fades back in (0.4 s, ease-in). Setting the text it already shows (or is
// about to show) does nothing; a text set while a change is under way replaces the one that change
// will show. The fade works on the text colour, so the view's background stays in place.
class AnimatedSetString : public QObject {
    Q_OBJECT
public:
    static constexpr int kFadeMilliseconds = 400;

    static void setAnimatedStringValue(QPlainTextEdit* view, const QString& text);
    // The text as the view shows it: line breaks of any kind become "\n".
    static QString displayedText(const QString& text);
    // Whether a change of the view is under way.
    static bool isAnimating(const QPlainTextEdit* view);
    // How visible the view's text is now: 1.0 fully shown, 0.0 faded out.
    static double opacity(const QPlainTextEdit* view);

private:
    explicit AnimatedSetString(QPlainTextEdit* view);
    static AnimatedSetString* of(const QPlainTextEdit* view);

    void change(const QString& text);
    void setOpacity(double opacity);
    void fadeOutFinished();

    QPlainTextEdit* _view;
    QColor _textColor;
    double _opacity = 1.0;
    QVariantAnimation* _fadeOut;
    QVariantAnimation* _fadeIn;
    QString _pendingText;
};

} // namespace lanyard
