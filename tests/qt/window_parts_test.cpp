#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetrics>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "tests/qt/form1_fixture.h"
#include "tests/support/temp_tree.h"
#include "window/qt/path_list_model.h"
#include "window/qt/status_line.h"

namespace quelix {
namespace {

using Lines = std::vector<std::string>;

TEST(StatusLineTest, ShowsALineBreakAsTwoLines) {
  const QFontMetrics metrics{QFont()};
  const StatusDisplay display = ShapeStatus("Scanning \r\n/srv/a.htm", metrics, 10000);
  EXPECT_EQ(display.shown, "Scanning \n/srv/a.htm");
  EXPECT_EQ(display.tooltip, "");
}

TEST(StatusLineTest, ShortensATooWidePathInItsMiddleAndKeepsTheWholeInTheTooltip) {
  const QFontMetrics metrics{QFont()};
  const QString path = "/srv/www/" + QString("deep/").repeated(60) + "index.htm";
  const int width = metrics.horizontalAdvance("Scanning ") * 3;
  const StatusDisplay display = ShapeStatus("Scanning \r\n" + path, metrics, width);
  const QStringList lines = display.shown.split('\n');
  ASSERT_EQ(lines.size(), 2);
  EXPECT_EQ(lines[0], "Scanning ");
  EXPECT_LE(metrics.horizontalAdvance(lines[1]), width);
  EXPECT_TRUE(lines[1].startsWith("/srv")) << lines[1].toStdString();
  EXPECT_TRUE(lines[1].endsWith("index.htm")) << lines[1].toStdString();
  EXPECT_TRUE(lines[1].contains(QChar(0x2026)));
  EXPECT_EQ(display.tooltip, "Scanning \n" + path);
}

TEST(PathListModelTest, AppendsReachTheViewOnlyAtAFlush) {
  PathListModel model;
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  for (int i = 0; i < 100000; ++i) model.Append("/srv/page" + std::to_string(i) + ".htm");
  EXPECT_EQ(model.size(), 100000u);
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(inserted.count(), 0);
  model.Flush();
  model.Flush();
  ASSERT_EQ(inserted.count(), 1);
  EXPECT_EQ(inserted[0][1].toInt(), 0);
  EXPECT_EQ(inserted[0][2].toInt(), 99999);
  EXPECT_EQ(model.rowCount(), 100000);
  EXPECT_EQ(model.data(model.index(99999, 0)).toString(), "/srv/page99999.htm");
  model.Clear();
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(model.size(), 0u);
}

TEST(PathListModelTest, ALongPathIsDrawnAsItsWholeWouldBeAndReadWhole) {
  const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");  // two UTF-16 units
  const std::vector<QString> paths = {
      "/srv/" + QString("deep/").repeated(400) + "index.htm",
      "/srv/" + QString("a").repeated(kPathEnd - 6) + emoji + QString("b").repeated(300) + emoji +
          QString("c").repeated(kPathEnd - 1),
      "/srv/" + QString("w").repeated(2 * kPathEnd - 4),  // no longer than two ends and one
  };
  const QFontMetrics metrics{QFont()};
  for (const QString& path : paths) {
    PathListModel model;
    model.Append(path.toStdString());
    model.Flush();
    const QModelIndex row = model.index(0, 0);
    const QString drawn = model.data(row).toString();
    EXPECT_EQ(model.data(row, Qt::ToolTipRole).toString(), path);
    EXPECT_EQ(model.data(row, Qt::AccessibleTextRole).toString(), path);
    EXPECT_LE(drawn.size(), 2 * kPathEnd + 1);
    EXPECT_EQ(QString::fromUtf8(drawn.toUtf8()), drawn);  // no half of a character
    for (const int width : {40, 400, 1600}) {
      EXPECT_EQ(metrics.elidedText(drawn, Qt::ElideMiddle, width),
                metrics.elidedText(path, Qt::ElideMiddle, width))
          << width;
    }
  }
}

// 100 000 infected paths appended through the window, with events processed after every
// thousandth (the controller lets the window process events every 15 ms at most): the view hears
// of them in one batch each time, and all of them are listed at the end.
TEST_F(Form1Test, AHundredThousandAppendsCostOneBatchPerProcessing) {
  auto form = MakeForm();
  const auto* view = form->findChild<QListView*>("lInfected");
  ASSERT_NE(view, nullptr);
  QSignalSpy inserted(view->model(), &QAbstractItemModel::rowsInserted);
  for (int i = 0; i < 100000; ++i) {
    form->AppendInfected("/srv/page" + std::to_string(i) + ".htm");
    if (i % 1000 == 999) form->ProcessEvents();
  }
  EXPECT_EQ(view->model()->rowCount(), 100000);
  EXPECT_EQ(inserted.count(), 100);
}

// Laying the lists out at every yield would cost a long scan more than its reading: with the
// default rule new entries wait 150 times what the yields cost since the last ones were added, so
// a tight run of yields adds them only a few times.
TEST_F(Form1Test, YieldsInQuickSuccessionDrawOnlyNowAndThen) {
  Form1::Setup setup = MakeSetup(std::chrono::milliseconds(0));
  setup.refresh_cost_factor = Form1::Setup{}.refresh_cost_factor;
  Form1 form(std::move(setup));
  form.Load();
  form.show();
  QSignalSpy inserted(form.findChild<QListView*>("lInfected")->model(),
                      &QAbstractItemModel::rowsInserted);
  for (int i = 0; i < 1000; ++i) {
    form.AppendInfected("/srv/page" + std::to_string(i) + ".htm");
    form.ProcessEvents();
  }
  EXPECT_GE(inserted.count(), 1);
  EXPECT_LT(inserted.count(), 100);
}

// The status line, cheap to draw, shows that a scan moves on while the lists wait for their turn.
TEST_F(Form1Test, TheStatusLineIsDrawnBetweenTheListsRefreshes) {
  Form1::Setup setup = MakeSetup(std::chrono::milliseconds(0));
  setup.refresh_interval = std::chrono::hours(1);
  Form1 form(std::move(setup));
  form.Load();
  form.show();
  form.ProcessEvents();
  const QAbstractItemModel* list = form.findChild<QListView*>("lInfected")->model();
  form.AppendInfected("/srv/a.htm");
  form.SetStatus("Scanning /srv/b.htm");
  form.ProcessEvents();
  EXPECT_EQ(StatusText(form), "Scanning /srv/b.htm");
  EXPECT_EQ(list->rowCount(), 0);
}

}  // namespace
}  // namespace quelix
