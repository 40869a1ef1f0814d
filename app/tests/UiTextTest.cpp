#include "AnimatedSetString.h"
#include "Localized.h"
#include "PathText.h"
#include "UiTestSupport.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <tuple>

namespace lanyard {
namespace {

TEST(UiPathText, OnlyTheWholeLeadingHomeFolderBecomesATilde) {
    // path, home folder, shown
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"/home/u", "/home/u", "~"},
        {"/home/u/Music", "/home/u", "~/Music"},
        {"/home/u/Music", "/home/u/", "~/Music"},
        {"/home/u2", "/home/u", "/home/u2"},
        {"/home/u2/Music", "/home/u", "/home/u2/Music"},
        {"/mnt/home/u/Music", "/home/u", "/mnt/home/u/Music"},
        {"/srv/media", "", "/srv/media"}};
    for (const auto& [path, home, shown] : cases) {
        EXPECT_EQ(abbreviatingHomeFolder(QString::fromUtf8(path), QString::fromUtf8(home)),
                  QString::fromUtf8(shown))
            << path << " in " << home;
    }
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
