// The dialogs at 9, 11 and 14 pt: every control shows its text in full, inside the dialog,
// and no two controls overlap.

#include "common/uCommonGUI.h"
#include "forms/ufrmBrowseServers.h"
#include "forms/ufrmCheckForUpdates.h"
#include "forms/ufrmMessageBox.h"
#include "forms/ufrmWebUpdateInformation.h"
#include "platform/gui/uHeaderPanel.h"
#include "platform/gui/uModalHook.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <functional>
#include <memory>

namespace {
class TFixedServers : public TServerEnumeratorBase {
public:
  QStringList GetServerNames() override { return {"ALPHA", "BRAVO\\SQL2008"}; }
};

bool IsControl(const QWidget* w) {
  return qobject_cast<const QLabel*>(w) || qobject_cast<const QAbstractButton*>(w) ||
         qobject_cast<const QLineEdit*>(w) || qobject_cast<const QComboBox*>(w) ||
         qobject_cast<const QAbstractScrollArea*>(w) ||
         (qobject_cast<const QFrame*>(w) && w->metaObject() == &QFrame::staticMetaObject);
}

// The controls that show, without looking inside them; the header band's caption and the
// picture drawn on it are one piece.
void CollectControls(QWidget* parent, QList<QWidget*>& out) {
  for (QObject* o : parent->children()) {
    auto* w = qobject_cast<QWidget*>(o);
    if (!w || w->isWindow() || !w->isVisible()) continue;
    if (auto* panel = qobject_cast<THeaderPanel*>(parent); panel && w == panel->HeaderBand())
      continue;
    if (IsControl(w))
      out << w;
    else
      CollectControls(w, out);
  }
}

QByteArray Name(const QWidget* w) {
  return w->objectName().toUtf8() + " (" + w->metaObject()->className() + ")";
}

void CheckLayout(QWidget& dialog) {
  QList<QWidget*> controls;
  CollectControls(&dialog, controls);
  QVERIFY(controls.size() >= 3);
  const QRect inside = dialog.rect();
  for (QWidget* c : controls) {
    const QRect r(c->mapTo(&dialog, QPoint(0, 0)), c->size());
    QVERIFY2(inside.contains(r), Name(c) + " sticks out of the dialog");
    // Text shown in full: one line needs its size hint, wrapped text its height for the width.
    if (auto* label = qobject_cast<QLabel*>(c); label && !label->text().isEmpty()) {
      if (label->wordWrap())
        QVERIFY2(label->heightForWidth(label->width()) <= label->height(), Name(c) + " cut");
      else
        QVERIFY2(label->sizeHint().width() <= label->width() &&
                     label->fontMetrics().height() <= label->height(),
                 Name(c) + " cut");
    }
    if (auto* button = qobject_cast<QAbstractButton*>(c); button && !button->text().isEmpty())
      QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) < button->width() &&
                   button->fontMetrics().height() < button->height(),
               Name(c) + " cut");
  }
  for (int i = 0; i < controls.size(); ++i)
    for (int j = i + 1; j < controls.size(); ++j) {
      const QRect a(controls[i]->mapTo(&dialog, QPoint(0, 0)), controls[i]->size());
      const QRect b(controls[j]->mapTo(&dialog, QPoint(0, 0)), controls[j]->size());
      QVERIFY2(!a.intersects(b), Name(controls[i]) + " overlaps " + Name(controls[j]));
    }
}
} // namespace

class TestDialogFonts : public QObject {
  Q_OBJECT
  QFont m_appFont;

private Q_SLOTS:
  void initTestCase() { m_appFont = QApplication::font(); }
  void init() {
    ModalHook::ClearAll();
    ModalHook::SetStrict(true);
  }
  void cleanup() {
    QApplication::setFont(m_appFont);
    ResetSystemIconFont();
    TfrmSelectServer::SetEnumeratorFactory({});
    TfrmCheckForUpdates::SetInfoFileURLOverride({});
    QCOMPARE(ModalHook::UnansweredCount(), 0);
  }

  void dialogs_data() {
    QTest::addColumn<int>("points");
    QTest::addColumn<QString>("dialog");
    for (const int pt : {9, 11, 14})
      for (const char* d : {"error", "about", "browser", "updates", "update information"})
        QTest::addRow("%s at %d pt", d, pt) << pt << QString(d);
  }

  void dialogs() {
    QFETCH(int, points);
    QFETCH(QString, dialog);
    QFont font = m_appFont;
    font.setPointSize(points);
    QApplication::setFont(font);
    SetSystemIconFont(font);

    std::unique_ptr<QDialog> d;
    if (dialog == "error" || dialog == "about") {
      auto box = std::make_unique<TfrmMessageBox>();
      if (dialog == "error")
        box->PrepareMessage(mkError, "Connection failure",
                            "Velmora failed to connect to the server (sql01).", mbOK | mbCancel);
      else
        box->PrepareMessage(mkAbout, "Version 1.1.0.6 Copyright (C) 2009-2026 Quorvix.",
                            "Find more tools at https://www.quorvix.com.", mbOK);
      d = std::move(box);
    } else if (dialog == "browser") {
      TfrmSelectServer::SetEnumeratorFactory([] { return std::make_unique<TFixedServers>(); });
      d = std::make_unique<TfrmSelectServer>();
    } else if (dialog == "updates") {
      // Nothing listens there: the check fails at once, on loopback.
      TfrmCheckForUpdates::SetInfoFileURLOverride("http://127.0.0.1:9/update.inf");
      d = std::make_unique<TfrmCheckForUpdates>();
    } else {
      auto info = std::make_unique<TfrmUpdateInformation>();
      info->SetUpdateInfo("{VERSION 1.2.0.0}<p>New: more.</p>");
      d = std::move(info);
    }
    d->show();
    QVERIFY(QTest::qWaitForWindowExposed(d.get()));
    CheckLayout(*d);
    d->hide();
  }
};

QTEST_MAIN(TestDialogFonts)
#include "test_dialogfonts.moc"
