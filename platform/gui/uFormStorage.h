#pragma once
// Keeps a window's placement (state, position, size) and a few named integer properties in a
// section of an INI store named after the window ("frmMain").

#include <QList>
#include <QObject>
#include <QRect>
#include <QString>
#include <functional>

class QWidget;
class TIniStore;

class TFormStorage : public QObject {
  Q_OBJECT
public:
  using TStorageProvider = std::function<TIniStore*()>;

  // The section is the form's object name.
  explicit TFormStorage(QWidget* form);

  // The store is looked up on every use, so the form can be created before the store exists.
  void SetStorageProvider(TStorageProvider provider) { m_provider = std::move(provider); }
  // An integer kept under its name, e.g. "pnlHeaderDetails.Height".
  void AddIntegerProperty(const QString& name, std::function<int()> get,
                          std::function<void(int)> set);

  QString Section() const;

  // Values that are missing or not numbers leave the form as designed.
  void RestorePlacement();
  void SavePlacement();

  // Where a window with the wanted geometry should go so that it can be seen and grabbed on
  // one of the screens (available geometries; the first is the primary one).
  static QRect FitOnScreens(const QRect& wanted, const QList<QRect>& screens);

  // Key names in the section.
  static constexpr const char* KeyLeft = "Left";
  static constexpr const char* KeyTop = "Top";
  static constexpr const char* KeyWidth = "Width";
  static constexpr const char* KeyHeight = "Height";
  static constexpr const char* KeyWindowState = "WindowState"; // 0 normal, 1 minimised, 2 maximised

private:
  struct TProperty {
    QString name;
    std::function<int()> get;
    std::function<void(int)> set;
  };

  QWidget* m_form;
  TStorageProvider m_provider;
  QList<TProperty> m_properties;
};
