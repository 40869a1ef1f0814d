#include "AnimatedSetString.h"
#include "Localized.h"
#include "PathText.h"
#include "UiTestSupport.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace lanyard {
namespace {

TEST(UiPathText, TheHomeFolderBecomesATilde) {
    const QString home = QStringLiteral("/home/u");
    EXPECT_EQ(abbreviatingHomeFolder(QStringLiteral("/home/u"), home), QStringLiteral("~"));
    EXPECT_EQ(abbreviatingHomeFolder(QStringLiteral("/home/u/Music"), home), QStringLiteral("~/Music"));
    EXPECT_EQ(abbreviatingHomeFolder(QStringLiteral("/home/u/Music"), QStringLiteral("/home/u/")),
              QStringLiteral("~/Music"));
}

TEST(UiPathText, OnlyWholeLeadingComponentsAreTheHomeFolder) {
    const QString home = QStringLiteral("/home/u");
    EXPECT_EQ(abbreviatingHomeFolder(QStringLiteral("/home/u2"), home), QStringLiteral("/home/u2"));
    EXPECT_EQ(abbreviatingHomeFolder(QStringLiteral("/home/u2/Music"), home),
              QStringLiteral("/home/u2/Music"));
    EXPECT_EQ(abbreviatingHomeFolder(QStringLiteral("/mnt/home/u/Music"), home),
              QStringLiteral("/mnt/home/u/Music"));
    EXPECT_EQ(abbreviatingHomeFolder(QStringLiteral("/srv/media"), QString()), QStringLiteral("/srv/media"));
}

TEST(UiPathText, LastComponent) {
    EXPECT_EQ(lastPathComponent(QStringLiteral("/a/Music")), QStringLiteral("Music"));
    EXPECT_EQ(lastPathComponent(QStringLiteral("/a/Music/")), QStringLiteral("Music"));
    EXPECT_EQ(lastPathComponent(QStringLiteral("/")), QStringLiteral("/"));
}

TEST(UiLocalized, UntranslatedKeysShowAsTheyAreAndFormatsTakeTheirArgument) {
    EXPECT_EQ(localized("Please stop Wifi service."), QStringLiteral("Please stop Wifi service."));
    EXPECT_EQ(formatted(QStringLiteral("Name: %@"), QStringLiteral("TV")), QStringLiteral("Name: TV"));
    EXPECT_EQ(formatted(QStringLiteral("%@ and %@"), QStringLiteral("a")), QStringLiteral("a and %@"));
    EXPECT_EQ(formatted(QStringLiteral("none"), QStringLiteral("a")), QStringLiteral("none"));
}

TEST(UiAnimatedText, TheTextChangesAfterTheViewFadedOutAndThenFadesBackIn) {
    QPlainTextEdit view;
    view.setPlainText(QStringLiteral("old"));
    const QColor textColor = view.palette().color(QPalette::Text);
    view.show();
    QElapsedTimer clock;
    clock.start();
    AnimatedSetString::setAnimatedStringValue(&view, QStringLiteral("line one\r\nline two"));
    EXPECT_EQ(view.toPlainText(), QStringLiteral("old"));
    EXPECT_TRUE(AnimatedSetString::isAnimating(&view));
    ASSERT_TRUE(test::waitUntil([&] { return view.toPlainText() != QStringLiteral("old"); }, 3000));
    EXPECT_GE(clock.elapsed(), AnimatedSetString::kFadeMilliseconds - 20);
    EXPECT_EQ(view.toPlainText(), QStringLiteral("line one\nline two"));
    EXPECT_LT(AnimatedSetString::opacity(&view), 0.2);
    EXPECT_LT(view.palette().color(QPalette::Text).alphaF(), 0.2f);
    ASSERT_TRUE(test::waitUntil([&] { return !AnimatedSetString::isAnimating(&view); }, 3000));
    EXPECT_DOUBLE_EQ(AnimatedSetString::opacity(&view), 1.0);
    EXPECT_EQ(view.palette().color(QPalette::Text), textColor);
}

TEST(UiAnimatedText, TheSameTextDoesNothingAndTheLastOfQuickChangesWins) {
    QPlainTextEdit view;
    view.setPlainText(QStringLiteral("same"));
    AnimatedSetString::setAnimatedStringValue(&view, QStringLiteral("same"));
    EXPECT_FALSE(AnimatedSetString::isAnimating(&view));
    AnimatedSetString::setAnimatedStringValue(&view, QStringLiteral("first"));
    AnimatedSetString::setAnimatedStringValue(&view, QStringLiteral("second"));
    ASSERT_TRUE(test::waitUntil([&] { return !AnimatedSetString::isAnimating(&view); }, 3000));
    EXPECT_EQ(view.toPlainText(), QStringLiteral("second"));
}

} // namespace
} // namespace lanyard
