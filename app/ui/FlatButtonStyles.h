#pragma once

#include <QString>

namespace lanyard {

class SYFlatButton;

// The application's looks for its flat buttons: the colour sets, corner, border, sizes and the
// animation times of a momentary push button.
enum class FlatButtonStyle {
    Primary, // the main action of a window: filled blue
    Neutral, // every other action: light with a thin border
    Quiet,   // leaving: light, red text
};

// Makes the button a momentary push button with the given title in the given style.
void applyFlatButtonStyle(SYFlatButton* button, FlatButtonStyle style, const QString& title);

} // namespace lanyard
