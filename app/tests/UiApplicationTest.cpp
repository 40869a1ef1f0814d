#include "SWBApplication.h"
#include "UiTestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace lanyard {
namespace {

// Whether the key is a modifier key on its own (QTest presses those before the key itself).
bool isModifierKey(const QKeyEvent* event) {
    const int key = event->key();
    return key == Qt::Key_Control || key == Qt::Key_Shift || key == Qt::Key_Alt || key == Qt::Key_Meta;
}

// A widget that offers the edit actions and records what reaches it.
class EditResponder : public QWidget {
    Q_OBJECT
public:
    QStringList actions;
    QList<QKeyCombination> keys;

public slots:
    void cut() { actions << QStringLiteral("cut"); }
    void copy() { actions << QStringLiteral("copy"); }
    void paste() { actions << QStringLiteral("paste"); }
    void undo() { actions << QStringLiteral("undo"); }
    void redo() { actions << QStringLiteral("redo"); }
    void selectAll() { actions << QStringLiteral("selectAll"); }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (!isModifierKey(event)) {
            keys << event->keyCombination();
        }
    }
};

// A plain widget without edit actions that records the keys it gets.
class PlainWidget : public QWidget {
public:
    QList<QKeyCombination> keys;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (!isModifierKey(event)) {
            keys << event->keyCombination();
        }
        event->ignore();
    }
};

class UiApplication : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(qobject_cast<SWBApplication*>(QCoreApplication::instance()), nullptr);
        responder.setFocusPolicy(Qt::StrongFocus);
        responder.resize(200, 100);
        test::showAndActivate(&responder);
        responder.setFocus();
        ASSERT_TRUE(test::waitUntil([&] { return QApplication::focusWidget() == &responder; }));
    }

    EditResponder responder;
};

TEST_F(UiApplication, ControlKeysSendTheEditActionsToTheFocusedWidgetAndOtherKeysTakeTheNormalRoute) {
    QTest::keyClick(&responder, Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(&responder, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(&responder, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(&responder, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(&responder, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&responder, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(responder.actions, (QStringList{"cut", "copy", "paste", "undo", "selectAll", "redo"}));
    EXPECT_TRUE(responder.keys.isEmpty()) << "a handled key went on to the widget";

    QTest::keyClick(&responder, Qt::Key_C, Qt::ControlModifier | Qt::AltModifier);
    QTest::keyClick(&responder, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(&responder, Qt::Key_C);
    QTest::keyClick(&responder, Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(responder.actions.size(), 6);
    ASSERT_EQ(responder.keys.size(), 4);
    EXPECT_EQ(responder.keys.at(0), QKeyCombination(Qt::ControlModifier | Qt::AltModifier, Qt::Key_C));
}

TEST_F(UiApplication, TheNearestParentThatOffersTheActionGetsIt) {
    auto* inner = new PlainWidget();
    inner->setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QVBoxLayout(&responder);
    layout->addWidget(inner);
    inner->setFocus();
    ASSERT_TRUE(test::waitUntil([&] { return QApplication::focusWidget() == inner; }));
    QTest::keyClick(inner, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(responder.actions, QStringList{"copy"});
    EXPECT_TRUE(inner->keys.isEmpty());
}

TEST_F(UiApplication, WithoutAnyResponderTheKeyIsPassedOn) {
    auto* inner = new PlainWidget();
    inner->setFocusPolicy(Qt::StrongFocus);
    PlainWidget window;
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(inner);
    test::showAndActivate(&window);
    inner->setFocus();
    ASSERT_TRUE(test::waitUntil([&] { return QApplication::focusWidget() == inner; }));
    QTest::keyClick(inner, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(inner->keys.size(), 1);
    EXPECT_TRUE(responder.actions.isEmpty());
}

TEST_F(UiApplication, TextFieldsCutPasteAndUndoWithTheKeys) {
    QLineEdit field;
    test::showAndActivate(&field);
    field.setFocus();
    ASSERT_TRUE(test::waitUntil([&] { return QApplication::focusWidget() == &field; }));
    QTest::keyClicks(&field, QStringLiteral("Living room"));
    QTest::keyClick(&field, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(field.selectedText(), QStringLiteral("Living room"));
    QTest::keyClick(&field, Qt::Key_X, Qt::ControlModifier);
    EXPECT_TRUE(field.text().isEmpty());
    QTest::keyClick(&field, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(field.text(), QStringLiteral("Living room"));
    QTest::keyClick(&field, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(field.text().isEmpty());
    if (QGuiApplication::clipboard()->text() == QStringLiteral("Living room")) {
        QTest::keyClick(&field, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(field.text(), QStringLiteral("Living room"));
    }
}

} // namespace
} // namespace lanyard

#include "UiApplicationTest.moc"
