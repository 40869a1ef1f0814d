#include "SWBApplication.h"

#include <QKeyEvent>
#include <QMetaMethod>
#include <QWidget>

namespace lanyard {

SWBApplication::SWBApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool SWBApplication::notify(QObject* receiver, QEvent* event) {
    if (event->type() == QEvent::KeyPress && receiver->isWidgetType()) {
        const char* action = editActionForKeyEvent(*static_cast<QKeyEvent*>(event));
        if (action && sendActionToFirstResponder(action)) {
            event->accept();
            return true;
        }
    }
    return QApplication::notify(receiver, event);
}

const char* SWBApplication::editActionForKeyEvent(const QKeyEvent& event) {
    const Qt::KeyboardModifiers significant =
        Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    const Qt::KeyboardModifiers modifiers = event.modifiers() & significant;
    if (modifiers == Qt::ControlModifier) {
        switch (event.key()) {
        case Qt::Key_X:
            return "cut";
        case Qt::Key_C:
            return "copy";
        case Qt::Key_V:
            return "paste";
        case Qt::Key_Z:
            return "undo";
        case Qt::Key_A:
            return "selectAll";
        default:
            return nullptr;
        }
    }
    if (modifiers == (Qt::ControlModifier | Qt::ShiftModifier) && event.key() == Qt::Key_Z) {
        return "redo";
    }
    return nullptr;
}

bool SWBApplication::sendActionToFirstResponder(const char* action) {
    const QByteArray signature = QByteArray(action) + "()";
    for (QWidget* responder = QApplication::focusWidget(); responder; responder = responder->parentWidget()) {
        const QMetaObject* meta = responder->metaObject();
        const int index = meta->indexOfMethod(signature.constData());
        if (index < 0) {
            continue;
        }
        const QMetaMethod method = meta->method(index);
        if (method.methodType() == QMetaMethod::Signal || method.access() != QMetaMethod::Public) {
            continue;
        }
        if (method.invoke(responder, Qt::DirectConnection)) {
            return true;
        }
    }
    return false;
}

} // namespace lanyard
