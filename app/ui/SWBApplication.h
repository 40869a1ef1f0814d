#pragma once

#include <QApplication>

class QKeyEvent;

namespace lanyard {

// The application class. It gives every text control the usual editing keys: Control+X, C, V, Z and A
// send cut, copy, paste, undo and select-all, and Control+Shift+Z redo, to the focused widget or the
// nearest of its parents that offers the action. An event that some widget handled that way goes no
// further; every other event takes the normal route.
class SWBApplication : public QApplication {
    Q_OBJECT
public:
    SWBApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // The action a key press selects ("cut", "copy", "paste", "undo", "selectAll", "redo"), or null.
    static const char* editActionForKeyEvent(const QKeyEvent& event);
    // Sends the action (a slot without arguments) to the focused widget, else to the nearest parent
    // that has it; true when one did.
    static bool sendActionToFirstResponder(const char* action);
};

} // namespace lanyard
