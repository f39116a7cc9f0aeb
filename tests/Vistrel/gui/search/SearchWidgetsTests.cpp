// The Search pane's logic offscreen: the thumbnail cache's bound and its refusal of undecodable
// bytes, the result list decoding each thumbnail once, the summary line's forms, and the pane's
// result area and card opening on a real library through the model.

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimeZone>

#include "Vistrel/gui/common/MomentLabel.h"
#include "Vistrel/gui/search/ResultGrid.h"
#include "Vistrel/gui/search/ResultListModel.h"
#include "Vistrel/gui/search/SearchPane.h"
#include "Vistrel/gui/search/SearchTexts.h"
#include "Vistrel/gui/search/ThumbnailCache.h"
#include "tests/Vistrel/model/AppModelFixture.h"

namespace vistrel {
namespace {

Bytes jpegBytes(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::darkCyan);
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPEG");
  return Bytes(data.begin(), data.end());
}

TEST(ThumbnailCache, The602ndDistinctThumbnailEmptiesItFirst) {
  ThumbnailCache cache;
  const QImage image = decodeThumbnail(jpegBytes(8, 6));
  ASSERT_FALSE(image.isNull());
  for (int id = 1; id <= 601; ++id)
    cache.insert(id, image);
  EXPECT_EQ(cache.size(), 601);
  cache.insert(17, image);
  EXPECT_EQ(cache.size(), 601) << "an image already held does not count again";
  cache.insert(602, image);
  EXPECT_EQ(cache.size(), 1);
  EXPECT_FALSE(cache.find(1).has_value()) << "an earlier thumbnail must be decoded again";
  EXPECT_TRUE(cache.find(602).has_value());
}

TEST(ThumbnailCache, UndecodableBytesGiveNoImageAndAreNeverCached) {
  ThumbnailCache cache;
  for (const Bytes& bytes : {Bytes{}, Bytes{0xff, 0xd8, 9, 8, 0xff, 0xd9}, Bytes{'P', 'N', 'G'}}) {
    const QImage image = decodeThumbnail(bytes);
    EXPECT_TRUE(image.isNull());
    cache.insert(1, image);
  }
  EXPECT_EQ(cache.size(), 0);
}

TEST(SearchSummary, ReadsAsTheResultIs) {
  const SearchQuery none;
  const SearchQuery word = SearchQuery::parse("invo");
  const QLocale english(QLocale::English, QLocale::UnitedStates);
  struct Case {
    bool open;
    const SearchQuery& query;
    std::int64_t hits;
    std::int64_t saved;
    QLocale locale;
    const char* expected;
  };
  const Case cases[] = {
      {false, word, 0, 0, english, "No history yet"},
      {true, none, 150, 1000, english, "The latest 150 frames \u00B7 1,000 saved"},
      {true, none, 3, 1234567, QLocale(QLocale::German),
       "The latest 3 frames \u00B7 1.234.567 saved"},
      {true, none, 150, 1000, QLocale::c(), "The latest 150 frames \u00B7 1,000 saved"},
      {true, word, 150, 1000, english, "150+ frames match"},
      {true, word, 149, 1000, english, "149 frames match"},
      {true, word, 12, 1000, english, "12 frames match"},
      {true, word, 1, 1000, english, "1 frame match"},
      {true, word, 0, 1000, english, "0 frames match"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(searchSummary(c.open, c.query, c.hits, c.saved, c.locale).toStdString(), c.expected);
}

TEST(MomentLabel, TodayYesterdayOrTheDateWithHourAndMinute) {
  const QDateTime now(QDate(2025, 3, 9), QTime(10, 0), QTimeZone::utc());
  const auto at = [](int day, int hour, int minute) {
    return dateFromSeconds1970(
        double(QDateTime(QDate(2025, 3, day), QTime(hour, minute, 42), QTimeZone::utc())
                   .toSecsSinceEpoch()));
  };
  const QLocale english(QLocale::English, QLocale::UnitedStates);
  struct Case {
    Date date;
    QLocale locale;
    const char* expected;
  };
  const Case cases[] = {
      {at(9, 9, 55), english, "9:55 AM"},           {at(9, 9, 55), QLocale::c(), "09:55"},
      {at(8, 14, 5), english, "Yesterday 2:05 PM"}, {at(8, 14, 5), QLocale::c(), "Yesterday 14:05"},
      {at(1, 14, 5), english, "Mar 1 2:05 PM"},     {at(1, 14, 5), QLocale::c(), "Mar 1 14:05"},
  };
  for (const Case& c : cases) {
    // Newer locale data puts a narrow no-break space before the day period.
    QString label = momentLabel(c.date, now, c.locale);
    label.replace(QChar(0x202F), QLatin1Char(' '));
    EXPECT_EQ(label.toStdString(), c.expected);
  }
}

TEST(ResultGrid, ColumnsAreBetween250And380PixelsWide) {
  // 12 pixels of padding each side, 14 between cards.
  EXPECT_EQ(ResultGrid::cardWidth(274), 250);
  EXPECT_EQ(ResultGrid::cardWidth(2 * 12 + 380), 380);
  EXPECT_EQ(ResultGrid::cardWidth(2 * 12 + 2 * 250 + 14), 250);
  EXPECT_EQ(ResultGrid::cardWidth(2 * 12 + 2 * 300 + 14), 300);
  // As many columns as fit at 250, widened up to 380 and no further.
  EXPECT_EQ(ResultGrid::cardWidth(2 * 12 + 3 * 380 + 2 * 14), (3 * 380 + 2 * 14 - 3 * 14) / 4);
  EXPECT_EQ(ResultGrid::cardWidth(2 * 12 + 2 * 250 + 14 - 1), 380);
}

class SearchScreen : public testing::AppModelTest {
 protected:
  void storeFrames(const std::vector<std::pair<std::string, Bytes>>& frames) {
    auto library = makeLibrary();
    Date at = clock->now() - Seconds(600);
    for (const auto& [text, thumbnail] : frames) {
      NewFrame stored = frame(at, text);
      stored.thumbnail = thumbnail;
      library->store(stored);
      at += Seconds(1);
    }
  }
};

TEST_F(SearchScreen, EachThumbnailIsDecodedOnceAndUndecodableOnesStayOutOfTheCache) {
  ThumbnailCache::shared().clear();
  storeFrames({{"Invoice one", jpegBytes(32, 20)}, {"Invoice two", Bytes{0xff, 0xd8, 1, 0xff}}});
  model().start();
  settle();
  ResultListModel list(model());
  ASSERT_EQ(list.rowCount(), 2);
  const auto thumbnail = [&](int row) {
    return list.data(list.index(row), ResultListModel::thumbnailRole).value<QImage>();
  };
  // Newest first: row 0 holds the undecodable thumbnail.
  for (int round = 0; round < 3; ++round) {
    thumbnail(0);
    thumbnail(1);
    list.waitForDecoding();
    settle();
  }
  EXPECT_EQ(list.decodeCount(), 2);
  EXPECT_TRUE(thumbnail(0).isNull()) << "the placeholder shows";
  EXPECT_EQ(thumbnail(1).size(), QSize(32, 20));
  EXPECT_EQ(ThumbnailCache::shared().size(), 1);

  // A new list of the same hits finds the decoded one cached and tries the broken one again.
  ResultListModel again(model());
  EXPECT_EQ(again.data(again.index(1), ResultListModel::thumbnailRole).value<QImage>().size(),
            QSize(32, 20));
  again.data(again.index(0), ResultListModel::thumbnailRole);
  again.waitForDecoding();
  EXPECT_EQ(again.decodeCount(), 1);
}

TEST_F(SearchScreen, ClearingWaitsOnceAndEachFilterChangeSearchesAtOnce) {
  storeFrames({{"Invoice one", jpegBytes(32, 20)}});
  model().start();
  settle();
  SearchPane pane(model());
  pane.show();
  settle();
  ASSERT_EQ(pane.appPicker()->count(), 2) << "All apps and Editor";
  EXPECT_EQ(pane.appPicker()->itemText(1), QStringLiteral("Editor (1)"));

  QTest::keyClicks(pane.field(), QStringLiteral("invo"));
  QTest::keyClick(pane.field(), Qt::Key_Return);
  settle();
  int before = searches;
  pane.clearAction()->trigger();
  settle();
  EXPECT_EQ(searches, before) << "the clear button's search waits";
  advance(AppModel::searchDelay);
  settle();
  EXPECT_EQ(searches, before + 1);
  EXPECT_TRUE(model().searchedQuery().isEmpty());

  before = searches;
  pane.appPicker()->setCurrentIndex(1);
  settle();
  EXPECT_EQ(searches, before + 1);
  EXPECT_EQ(model().appFilter(), model().apps()[0].tag);
  pane.appPicker()->setCurrentIndex(0);
  settle();
  EXPECT_EQ(searches, before + 2);
  EXPECT_FALSE(model().appFilter().has_value()) << "the second search is unfiltered";

  pane.rangePicker()->setCurrentIndex(0);
  settle();
  EXPECT_EQ(searches, before + 3);
  EXPECT_EQ(model().range(), DateRange::today);
  EXPECT_EQ(pane.rangePicker()->currentText(), QStringLiteral("Today"));
}

TEST_F(SearchScreen, ResultAreaAndOpeningACardWithTheSearchedQuery) {
  SearchPane pane(model());
  EXPECT_EQ(pane.messageTitle(), QStringLiteral("Nothing saved yet"));
  EXPECT_EQ(pane.summary()->text(), QStringLiteral("No history yet"));
  pane.messageButton()->click();
  EXPECT_EQ(model().pane(), Pane::capture);

  storeFrames({{"Invoice #4471 from Northwind", jpegBytes(32, 20)},
               {"Quarterly budget", jpegBytes(32, 20)}});
  model().start();
  settle();
  pane.show();
  settle();
  EXPECT_TRUE(pane.messageTitle().isEmpty()) << "the grid shows";
  EXPECT_EQ(pane.grid()->model()->rowCount(), 2);
  pane.resize(1000, 700);
  settle();
  pane.grid()->setCurrentIndex(pane.grid()->model()->index(0, 0));
  QTest::keyClick(pane.grid(), Qt::Key_Right);
  EXPECT_EQ(pane.grid()->currentIndex().row(), 1) << "arrows move between cards";

  QTest::keyClicks(pane.field(), QStringLiteral("zzzz"));
  EXPECT_TRUE(pane.clearAction()->isVisible());
  settle();
  EXPECT_EQ(pane.grid()->model()->rowCount(), 2) << "the search waits while typing";
  advance(AppModel::searchDelay);
  settle();
  EXPECT_EQ(pane.messageTitle(), QStringLiteral("No frames match"));

  pane.field()->setText({});
  QTest::keyClicks(pane.field(), QStringLiteral("invo 4471"));
  QTest::keyClick(pane.field(), Qt::Key_Return);
  settle();
  EXPECT_EQ(pane.summary()->text(), QStringLiteral("1 frame match"));
  const QModelIndex card = pane.grid()->model()->index(0, 0);
  EXPECT_TRUE(card.data(Qt::AccessibleTextRole).toString().startsWith(QStringLiteral("Editor, ")));
  EXPECT_TRUE(card.data(Qt::AccessibleTextRole)
                  .toString()
                  .endsWith(QStringLiteral(": Invoice #4471 from Northwind")));

  QTest::keyClicks(pane.field(),
                   QStringLiteral(" more"));  // typed after the search: not what the card matched
  pane.grid()->setFocus();
  QTest::keyClick(pane.grid(), Qt::Key_Return);
  ASSERT_TRUE(model().openFrame().has_value());
  EXPECT_EQ(model().openFrame()->query, SearchQuery::parse("invo 4471"));
}

}  // namespace
}  // namespace vistrel

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
