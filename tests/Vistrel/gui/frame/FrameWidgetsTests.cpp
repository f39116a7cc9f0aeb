// The frame view offscreen: where the canvas draws its match outlines, fitted and at actual size,
// and the text panel's tinted rows and copy action on a real library through the model.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include "Vistrel/gui/frame/FrameCanvas.h"
#include "Vistrel/gui/frame/FrameDetailView.h"
#include "VistrelKit/imaging/Imaging.h"
#include "tests/Vistrel/model/AppModelFixture.h"

namespace vistrel {
namespace {

const TextLine invoiceLine{"Invoice #4471", 0.1, 0.2, 0.26, 0.05};

void expectNear(const QRectF& actual, const QRectF& expected) {
  EXPECT_NEAR(actual.left(), expected.left(), 1e-6);
  EXPECT_NEAR(actual.top(), expected.top(), 1e-6);
  EXPECT_NEAR(actual.width(), expected.width(), 1e-6);
  EXPECT_NEAR(actual.height(), expected.height(), 1e-6);
}

QImage blankImage(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::white);
  return image;
}

TEST(FrameCanvas, OutlinesTheMatchedWordSixPixelsLargerWhereverTheImageIsDrawn) {
  FrameCanvas canvas;
  canvas.resize(500, 600);
  canvas.setImage(blankImage(1000, 600));
  canvas.setLines({invoiceLine, TextLine{"Payment due", 0.1, 0.5, 0.2, 0.05}});
  canvas.setQuery(SearchQuery::parse("invo"));

  // "Invoice" is 7 of the line's 13 characters: 0.26 × 7 / 13 = 0.14 of the image's width.
  canvas.setActualSize(true);
  ASSERT_EQ(canvas.outlines().size(), 1);
  expectNear(canvas.outlines()[0],
             QRectF(0.1 * 1000 - 3, 0.2 * 600 - 3, 0.14 * 1000 + 6, 0.05 * 600 + 6));
  EXPECT_EQ(canvas.sizeHint(), QSize(1000, 600)) << "scrolls at the image's own size";

  // Fitted into 500 × 600 the image is drawn 500 × 300, centred from y = 150.
  canvas.setActualSize(false);
  expectNear(canvas.imageRect(), QRectF(0, 150, 500, 300));
  ASSERT_EQ(canvas.outlines().size(), 1);
  expectNear(canvas.outlines()[0],
             QRectF(0.1 * 500 - 3, 150 + 0.2 * 300 - 3, 0.14 * 500 + 6, 0.05 * 300 + 6));

  canvas.setQuery(SearchQuery{});
  EXPECT_TRUE(canvas.outlines().isEmpty()) << "opened from the timeline: no outlines";
}

class FrameDetail : public testing::AppModelTest {
 protected:
  std::int64_t storeInvoice(int width = 200, int height = 120) {
    NewFrame stored = frame(clock->now(), "Invoice #4471");
    stored.meta.lines = {invoiceLine, TextLine{"Payment due Friday", 0.1, 0.5, 0.3, 0.05}};
    Image pixels(width, height, PixelFormat::rgbx);
    stored.jpeg = *Imaging::jpeg(pixels, 0.8);
    return makeLibrary()->store(stored);
  }

  std::unique_ptr<FrameDetailView> open(std::int64_t id, const std::string& query) {
    model().start();
    settle();
    auto view = std::make_unique<FrameDetailView>(model(), OpenFrame{id, SearchQuery::parse(query)},
                                                  [this] { ++dismissed; });
    view->resize(1180, 780);
    settle();
    return view;
  }

  static std::vector<bool> tints(const FrameDetailView& view) {
    std::vector<bool> tinted;
    for (const QLabel* row : view.textRows())
      tinted.push_back(FrameDetailView::isTinted(row));
    return tinted;
  }

  int dismissed = 0;
};

TEST_F(FrameDetail, FromASearchTintsTheMatchingLinesAndFromTheTimelineNothing) {
  const std::int64_t id = storeInvoice();
  auto view = open(id, "invo");
  ASSERT_TRUE(view->summary().has_value());
  EXPECT_EQ(tints(*view), (std::vector<bool>{true, false}));
  EXPECT_EQ(view->textRows()[0]->accessibleName(), QStringLiteral("Invoice #4471"));
  EXPECT_FALSE(view->canvas()->image().isNull());
  EXPECT_EQ(view->canvas()->outlines().size(), 1);

  view->setOpenFrame(OpenFrame{id, SearchQuery{}});
  settle();
  EXPECT_EQ(tints(*view), (std::vector<bool>{false, false}));
  EXPECT_TRUE(view->canvas()->outlines().isEmpty());

  view->copyTextButton()->click();
  EXPECT_EQ(clipboard->text, "Invoice #4471\nPayment due Friday");
  view->copyImageButton()->click();
  ASSERT_TRUE(clipboard->image.has_value());
  EXPECT_EQ(clipboard->image->width(), 200);
}

TEST_F(FrameDetail, AtActualSizeAWideFrameScrollsAndTheOutlineStaysOnTheWord) {
  const std::int64_t id = storeInvoice(1600, 1000);
  auto view = open(id, "invo");
  view->resize(1000, 680);
  view->show();
  settle();
  ASSERT_FALSE(view->canvas()->image().isNull());
  view->actualSizeButton()->click();
  settle();
  EXPECT_EQ(view->canvas()->size(), QSize(1600, 1000));
  QScrollBar* horizontal = view->canvasScroll()->horizontalScrollBar();
  EXPECT_GT(horizontal->maximum(), 0);

  const QRectF word(0.1 * 1600 - 3, 0.2 * 1000 - 3, 0.14 * 1600 + 6, 0.05 * 1000 + 6);
  const auto onScreen = [&] {
    return view->canvas()->outlines().value(0).translated(
        view->canvas()->mapTo(view->canvasScroll()->viewport(), QPoint(0, 0)));
  };
  EXPECT_EQ(onScreen(), word);
  horizontal->setValue(120);
  EXPECT_EQ(onScreen(), word.translated(-120, 0)) << "the outline moves with the image";
}

TEST_F(FrameDetail, AFrameThatIsGoneKeepsItsIndicatorsAndItsActionsDoNothing) {
  storeInvoice();
  auto view = open(99, "invo");
  EXPECT_FALSE(view->summary().has_value());
  EXPECT_TRUE(view->textRows().isEmpty());
  view->copyTextButton()->click();
  view->copyImageButton()->click();
  view->timelineButton()->click();
  EXPECT_FALSE(clipboard->text.has_value());
  EXPECT_FALSE(clipboard->image.has_value());
  EXPECT_EQ(model().pane(), Pane::search);
}

}  // namespace
}  // namespace vistrel

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
