// The system font: a form takes the icon font and its controls, at any depth, follow the
// per-class rules, at the reference height of 11 pixels and above it.

#include "common/uCommonGUI.h"
#include "forms/ufrmMessageBox.h"
#include "platform/gui/uHeaderPanel.h"
#include "platform/gui/uRichEditURL.h"

#include <QHeaderView>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTextEdit>
#include <QVBoxLayout>

namespace {
const QString kIconFamily = QStringLiteral("DejaVu Sans");

QFont DesignFont(const QString& family = QStringLiteral("Tahoma"), int pixels = 11) {
  QFont f(family);
  f.setPixelSize(pixels);
  return f;
}

// A form laid out as in a designer: controls on the form, in a header panel, in a tab page
// and in a panel on that page.
struct TFixture {
  QWidget form;
  QLabel* parentFontLabel = nullptr;
  QLabel* ownFontLabel = nullptr;
  THeaderPanel* panel = nullptr;
  QLabel* picture = nullptr;
  QTabWidget* tabs = nullptr;
  QTableView* grid = nullptr;
  QTableView* boundGrid = nullptr;
  QTextEdit* rich = nullptr;
  QTextEdit* inheritingRich = nullptr;
  int boundRowHeight = 0;

  TFixture() {
    form.setFont(DesignFont());
    auto* layout = new QVBoxLayout(&form);
    parentFontLabel = new QLabel("follows the form", &form);
    ownFontLabel = new QLabel("own font", &form);
    QFont bold = DesignFont();
    bold.setBold(true);
    ownFontLabel->setFont(bold);
    QPalette red = ownFontLabel->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    ownFontLabel->setPalette(red);
    layout->addWidget(parentFontLabel);
    layout->addWidget(ownFontLabel);

    panel = new THeaderPanel(&form);
    panel->setFont(DesignFont());
    panel->SetHeaderHeight(48);
    QFont header = DesignFont("Tahoma", 16);
    header.setBold(true);
    panel->SetHeaderFont(header);
    picture = new QLabel(panel->HeaderBand());
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::red);
    picture->setPixmap(pixmap);
    picture->setGeometry(8, 3, 32, 32);
    layout->addWidget(panel);

    tabs = new QTabWidget(panel->ClientArea());
    tabs->setProperty(kTabHeightProperty, 17);
    tabs->tabBar()->setFont(DesignFont());
    panel->ClientLayout()->addWidget(tabs);
    auto* page = new QWidget;
    tabs->addTab(page, "Page");
    auto* pageLayout = new QVBoxLayout(page);
    auto* inner = new QWidget(page);
    pageLayout->addWidget(inner);
    auto* innerLayout = new QVBoxLayout(inner);
    grid = new QTableView(inner);
    boundGrid = new QTableView(inner);
    boundGrid->setProperty(kDataBoundGridProperty, true);
    boundRowHeight = boundGrid->verticalHeader()->defaultSectionSize();
    rich = new QTextEdit(inner);
    rich->setFont(DesignFont("Courier New"));
    inheritingRich = new QTextEdit(inner);
    innerLayout->addWidget(grid);
    innerLayout->addWidget(boundGrid);
    innerLayout->addWidget(rich);
    innerLayout->addWidget(inheritingRich);
  }
};

int Pixels(const QWidget* w) {
  return FontPixelHeight(w->font());
}
} // namespace

class TestSystemFont : public QObject {
  Q_OBJECT

private Q_SLOTS:
  void cleanup() { ResetSystemIconFont(); }

  void rules_data() {
    QTest::addColumn<QFont>("iconFont");
    QTest::addColumn<int>("pixels");
    QTest::addColumn<int>("header");
    QTest::addColumn<int>("tabHeight");
    QTest::addColumn<int>("scaled11");
    QFont px11(kIconFamily), px12(kIconFamily), pt9(kIconFamily);
    px11.setPixelSize(11);
    px12.setPixelSize(12);
    pt9.setPointSize(9);
    // 11 pixels is the reference: only names and the grids' measured heights change.
    QTest::newRow("11 px") << px11 << 11 << 16 << 17 << 11;
    // 12/11: -16 gives -17, -11 gives -12, 17 gives 18.5 -> 19.
    QTest::newRow("12 px") << px12 << 12 << 17 << 19 << 12;
    QTest::newRow("9 pt at 96 dpi") << pt9 << 12 << 17 << 19 << 12;
  }

  void rules() {
    QFETCH(QFont, iconFont);
    QFETCH(int, pixels);
    if (iconFont.pixelSize() <= 0 && QGuiApplication::primaryScreen()->logicalDotsPerInchY() != 96)
      QSKIP("the screen is not at 96 dots per inch");
    TFixture f;
    ApplySystemFont(&f.form, iconFont);

    QCOMPARE(f.form.font().family(), kIconFamily);
    QCOMPARE(Pixels(&f.form), pixels);

    QVERIFY(!f.parentFontLabel->testAttribute(Qt::WA_SetFont));
    QCOMPARE(f.parentFontLabel->font().family(), kIconFamily);
    QCOMPARE(f.ownFontLabel->font().family(), kIconFamily);
    QCOMPARE(Pixels(f.ownFontLabel), pixels);
    QVERIFY(f.ownFontLabel->font().bold());
    QCOMPARE(f.ownFontLabel->palette().color(QPalette::WindowText), QColor(Qt::red));

    QCOMPARE(f.picture->geometry(), QRect(8, 8, 32, 32));
    QCOMPARE(f.panel->font().family(), kIconFamily);
    QCOMPARE(Pixels(f.panel), 11); // the panel's own font takes only the name
    QCOMPARE(f.panel->HeaderFont().family(), kIconFamily);
    QTEST(FontPixelHeight(f.panel->HeaderFont()), "header");
    QVERIFY(f.panel->HeaderFont().bold());

    QTEST(f.tabs->property(kTabHeightProperty).toInt(), "tabHeight");
    QCOMPARE(f.tabs->tabBar()->font().family(), kIconFamily);
    QTEST(Pixels(f.tabs->tabBar()), "scaled11");

    // Four levels down: panel, tab page, inner panel.
    QFont measured(kIconFamily);
    if (iconFont.pixelSize() > 0)
      measured.setPixelSize(iconFont.pixelSize());
    else
      measured.setPointSizeF(iconFont.pointSizeF());
    const int h = QFontMetrics(measured).height();
    QCOMPARE(f.grid->font().family(), kIconFamily);
    QCOMPARE(Pixels(f.grid), pixels);
    QCOMPARE(f.grid->horizontalHeader()->height(), h + 10);
    QCOMPARE(f.grid->verticalHeader()->defaultSectionSize(), h + 4);
    QVERIFY(!f.boundGrid->testAttribute(Qt::WA_SetFont));
    QCOMPARE(f.boundGrid->verticalHeader()->defaultSectionSize(), f.boundRowHeight);

    QCOMPARE(f.rich->font().family(), kIconFamily);
    QTEST(Pixels(f.rich), "scaled11");
    // Without a font of its own it follows the panel's, which kept its size.
    QVERIFY(!f.inheritingRich->testAttribute(Qt::WA_SetFont));
    QCOMPARE(f.inheritingRich->font().family(), kIconFamily);
    QCOMPARE(Pixels(f.inheritingRich), 11);
  }

  // The message box gets the system font when it is made.
  void messageBox_data() {
    QTest::addColumn<int>("pixels");
    QTest::addColumn<int>("header");
    QTest::newRow("11 px") << 11 << 16;
    QTest::newRow("12 px") << 12 << 17;
  }

  void messageBox() {
    QFETCH(int, pixels);
    QFont icon(kIconFamily);
    icon.setPixelSize(pixels);
    SetSystemIconFont(icon);
    TfrmMessageBox box;
    QCOMPARE(box.font().family(), kIconFamily);
    QTEST(FontPixelHeight(box.pnlHeader->HeaderFont()), "header");
    QVERIFY(box.pnlHeader->HeaderFont().bold());
    QCOMPARE(box.mmText->font().family(), kIconFamily);
    QCOMPARE(Pixels(box.mmText), pixels);
    for (QLabel* image : {box.imgHeader0, box.imgHeader1, box.imgHeader2, box.imgHeader3}) {
      QCOMPARE(image->geometry(), QRect(8, 8, 32, 32));
      QVERIFY(!image->pixmap().isNull());
    }
    QVERIFY(box.lblSupport->font().underline());
    QCOMPARE(box.lblSupport->font().family(), kIconFamily);
    QCOMPARE(Pixels(box.lblSupport), pixels);
  }
};

QTEST_MAIN(TestSystemFont)
#include "test_systemfont.moc"
