#include <QTest>
class TestPlacement : public QObject {
  Q_OBJECT
};
QTEST_MAIN(TestPlacement)
#include "test_placement.moc"
